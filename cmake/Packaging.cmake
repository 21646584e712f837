# What `cmake --install` puts where, and the packages `cpack` (the `package`
# target) makes of it: a .deb on Linux, a zip of both programs on Windows.

set(CPACK_PACKAGE_NAME songwright)
set(CPACK_PACKAGE_VENDOR "Brenvale")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repairs MP3 tag text written in a legacy Windows code page")
set(CPACK_PACKAGE_CONTACT
    "Brenvale Songwright maintainers <maintainers@users.noreply.c-seed-fd1d82b7.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
  # Both programs and a short text at the top of one folder.
  install(TARGETS songwright RUNTIME DESTINATION .)
  if(TARGET BrenvaleSongwright)
    install(TARGETS BrenvaleSongwright RUNTIME DESTINATION .)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
                 ${PROJECT_BINARY_DIR}/packaging/README.txt NEWLINE_STYLE WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME BrenvaleSongwright-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/songwright)

# Debian wants the page and the changelog compressed, reproducibly (-n: no
# name or time in the header).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging ${PROJECT_BINARY_DIR}/packaging)
add_custom_command(
  OUTPUT ${packaging}/songwright.1.gz ${packaging}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging}
  COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/packaging/songwright.1 >
          ${packaging}/songwright.1.gz
  COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog >
          ${packaging}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/songwright.1
          ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  VERBATIM)
add_custom_target(packaging_files ALL
  DEPENDS ${packaging}/songwright.1.gz ${packaging}/changelog.gz)

install(TARGETS songwright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging}/songwright.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/completion/songwright.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME songwright)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/completion/_songwright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${packaging}/changelog.gz
        DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # songwright_1.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the shared libraries the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the long text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Titles, artists and albums written on a Windows machine in a code page such\n"
    "as cp1251 (Cyrillic), cp1250 (Central European) or cp1253 (Greek) but\n"
    "stored as Latin-1 show as wrong letters on other systems. songwright\n"
    "re-decodes such ID3v2 text frames through the code page and stores them\n"
    "as UTF-16, copies ID3v1 fields into empty ID3v2 fields, and saves only the\n"
    "files that changed, without ever touching the audio or leaving a file half\n"
    "written. Every run can be undone.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
# Owner root, modes 0755 and 0644, whatever the umask of the build.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
