# TagLib, zlib, the Boost headers and nlohmann's JSON headers. On Linux they
# come from Debian's -dev packages; for Windows TagLib is a static library
# cross-built into TAGLIB_WINDOWS_PREFIX (scripts/build-taglib-windows.sh).
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)

if(WIN32 AND CMAKE_CROSSCOMPILING)
  # Boost is header-only here; the host's headers serve, seen through a
  # folder that holds nothing else so no other host header is picked up.
  set(BOOST_HOST_HEADERS /usr/include/boost)
  if(NOT EXISTS ${BOOST_HOST_HEADERS}/version.hpp)
    message(FATAL_ERROR "Boost headers not found (Debian: libboost-dev)")
  endif()
  set(boost_view ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${boost_view})
  file(CREATE_LINK ${BOOST_HOST_HEADERS} ${boost_view}/boost SYMBOLIC)
  add_library(Boost::headers INTERFACE IMPORTED)
  set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${boost_view})
  # nlohmann's JSON library, header-only too (Debian: nlohmann-json3-dev),
  # seen the same way.
  set(NLOHMANN_HOST_HEADERS /usr/include/nlohmann)
  if(NOT EXISTS ${NLOHMANN_HOST_HEADERS}/json.hpp)
    message(FATAL_ERROR "nlohmann JSON headers not found (Debian: nlohmann-json3-dev)")
  endif()
  set(nlohmann_view ${CMAKE_BINARY_DIR}/nlohmann-headers)
  file(MAKE_DIRECTORY ${nlohmann_view})
  file(CREATE_LINK ${NLOHMANN_HOST_HEADERS} ${nlohmann_view}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${nlohmann_view})
else()
  find_package(Boost 1.74 REQUIRED)
  find_package(nlohmann_json 3.9 REQUIRED)
endif()

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
