# Runs the Unprivileged test cases as user "nobody" when started as root,
# directly otherwise. As root, the test binary is first copied where that
# user can run it, since the build tree may sit below a private folder.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(binary ${TEST_BINARY})
if(uid STREQUAL "0")
  string(RANDOM LENGTH 8 suffix)
  set(folder /tmp/songwright-unprivileged-${suffix})
  file(MAKE_DIRECTORY ${folder})
  file(COPY ${TEST_BINARY} DESTINATION ${folder}
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  get_filename_component(name ${TEST_BINARY} NAME)
  execute_process(COMMAND chmod 755 ${folder})
  set(binary setpriv --reuid=nobody --regid=nogroup --clear-groups ${folder}/${name})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env TMPDIR=/tmp ${binary} --gtest_filter=Unprivileged.*
                RESULT_VARIABLE result)
if(folder)
  file(REMOVE_RECURSE ${folder})
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Unprivileged tests failed (${result})")
endif()
