# The Windows DLL, cross-built by the mingw-i686 preset, checked from the Linux
# build: its PE layout through MinGW's objdump, and its behaviour under Wine
# against this build's result codes and BMP bytes for the same GIFs. On when
# MinGW and Wine are installed (scripts/test.sh installs and builds both).
find_program(BREVLO_MINGW_OBJDUMP i686-w64-mingw32-objdump)
find_program(BREVLO_WINE wine)
option(BREVLO_WINDOWS_TESTS "Test the Windows DLL (needs MinGW-w64 and Wine)" ON)
set(BREVLO_WINDOWS_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/mingw-i686"
  CACHE PATH "Build folder of the mingw-i686 preset")
if(NOT BREVLO_WINDOWS_TESTS OR NOT BREVLO_MINGW_OBJDUMP OR NOT BREVLO_WINE)
  message(STATUS "Windows DLL tests are off (BREVLO_WINDOWS_TESTS, MinGW objdump or Wine missing)")
  return()
endif()

set(windows_dll "${BREVLO_WINDOWS_BUILD_DIR}/brevlo32.dll")
set(windows_host "${BREVLO_WINDOWS_BUILD_DIR}/tests/windows_host_test.exe")
set(windows_run "${CMAKE_CURRENT_BINARY_DIR}/windows")

add_test(NAME windows.dll_layout
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_dll_layout.sh ${BREVLO_MINGW_OBJDUMP} ${windows_dll})

add_executable(windows_corpus windows_corpus.cpp)
target_link_libraries(windows_corpus PRIVATE brevlo_test_support)
add_test(NAME windows.corpus
  COMMAND windows_corpus ${windows_run}/corpus ${PROJECT_SOURCE_DIR}/examples/sample.gif)
set_tests_properties(windows.corpus PROPERTIES FIXTURES_SETUP windows_corpus)

# The prefix lives in the build folder and is made once (slow the first time).
add_test(NAME windows.host_under_wine
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${CMAKE_BINARY_DIR}/wine-prefix
    ${windows_host} ${windows_dll} ${windows_run}/corpus ${windows_run}/work)
set_tests_properties(windows.host_under_wine PROPERTIES
  FIXTURES_REQUIRED windows_corpus
  TIMEOUT 900)
