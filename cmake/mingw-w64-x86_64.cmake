# Cross-build for 64-bit Windows with Debian's mingw-w64 (win32 thread model).
#
#   cmake -S . -B build-windows \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Libraries and headers are looked up only under the mingw sysroot and under
# TAGLIB_WINDOWS_PREFIX (default: <build dir>/taglib, where
# scripts/build-taglib-windows.sh installs the static TagLib). Programs come
# from the host. Executables are linked fully static, so they import only
# Windows' own DLLs, and CTest runs them through wine.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MINGW_SYSROOT /usr/${MINGW_TRIPLE})

set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# Cache variable > environment > default beside the build tree.
if(NOT TAGLIB_WINDOWS_PREFIX)
  if(DEFINED ENV{TAGLIB_WINDOWS_PREFIX})
    set(TAGLIB_WINDOWS_PREFIX "$ENV{TAGLIB_WINDOWS_PREFIX}")
  else()
    set(TAGLIB_WINDOWS_PREFIX "${CMAKE_BINARY_DIR}/taglib")
  endif()
endif()
set(TAGLIB_WINDOWS_PREFIX "${TAGLIB_WINDOWS_PREFIX}" CACHE PATH
    "Install prefix of the static TagLib built for Windows")
# try_compile projects get the same value instead of their own build dir.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAGLIB_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH ${MINGW_SYSROOT} ${TAGLIB_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot holds both libz.a and the import library libz.dll.a; the
# latter would make the exe depend on zlib1.dll, so pin the static one.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY ${MINGW_SYSROOT}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR ${MINGW_SYSROOT}/include CACHE PATH "")

# No libgcc/libstdc++/winpthread DLLs next to the exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(WINE_EXECUTABLE NAMES wine wine64)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
