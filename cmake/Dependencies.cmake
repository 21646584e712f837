# TagLib, zlib and the Boost headers. On Linux they come from Debian's -dev
# packages; for Windows TagLib is a static library cross-built into
# TAGLIB_WINDOWS_PREFIX (scripts/build-taglib-windows.sh).
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(Boost 1.74 REQUIRED)

if(WIN32)
  find_path(TAGLIB_INCLUDE_DIR taglib/taglib.h REQUIRED)
  find_library(TAGLIB_LIBRARY NAMES libtag.a tag REQUIRED)
  add_library(TagLib::TagLib STATIC IMPORTED)
  set_target_properties(TagLib::TagLib PROPERTIES
    IMPORTED_LOCATION ${TAGLIB_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES "${TAGLIB_INCLUDE_DIR};${TAGLIB_INCLUDE_DIR}/taglib"
    INTERFACE_COMPILE_DEFINITIONS TAGLIB_STATIC
    INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib>=1.13)
  add_library(TagLib::TagLib ALIAS PkgConfig::TAGLIB)
endif()
