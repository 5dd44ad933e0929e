# Installs the build at BUILD_DIR into a fresh PREFIX. The prefix is named as a
# person may type it, relative to the folder the install runs in and untidy
# (./name/): what is installed must still name it plainly.
file(REMOVE_RECURSE ${PREFIX})
cmake_path(GET PREFIX PARENT_PATH parent)
cmake_path(GET PREFIX FILENAME name)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ./${name}/
  WORKING_DIRECTORY ${parent}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install into ${PREFIX} failed")
endif()
