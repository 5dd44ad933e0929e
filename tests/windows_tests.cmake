# The Windows DLLs and brevlo.exe, cross-built by the mingw-i686 and
# mingw-x86_64 presets, checked from the Linux build: the PE layout of each
# through MinGW's objdump, the DLL's behaviour under Wine against this build's
# result codes and BMP bytes for the same GIFs, brevlo.exe's against this
# build's command (windows_command_test.py), and the archive cpack makes in its
# build folder. On when MinGW and Wine are installed (scripts/test.sh installs
# and builds both). Until the mingw-* preset has built its DLL, that DLL's
# tests report themselves skipped with the command that builds it.
option(BREVLO_WINDOWS_TESTS "Test the Windows DLLs (needs MinGW-w64 and Wine)" ON)
if(NOT BREVLO_WINDOWS_TESTS)
  message(STATUS "Windows DLL tests are off (BREVLO_WINDOWS_TESTS)")
  return()
endif()

set(windows_run "${CMAKE_CURRENT_BINARY_DIR}/windows")
add_executable(windows_corpus windows_corpus.cpp)
target_link_libraries(windows_corpus PRIVATE brevlo_test_support)
add_test(NAME windows.corpus
  COMMAND windows_corpus ${windows_run}/corpus ${PROJECT_SOURCE_DIR}/examples/sample.gif)
set_tests_properties(windows.corpus PROPERTIES FIXTURES_SETUP windows_corpus)

# A test of what a mingw-* build folder makes, run only once it is made.
set(windows_unless_built ${CMAKE_CURRENT_SOURCE_DIR}/skip_unless_built.sh)
add_test(NAME windows.skip_unless_built
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/skip_unless_built_test.sh ${windows_unless_built})

# Where the kernel cannot run i386 code, 32-bit Wine runs under qemu-i386 with
# a small i386 library preloaded (see qemu_mmap_noreplace.c), built where the
# compiler can make i386 code.
include(CheckCSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -m32)
set(CMAKE_REQUIRED_LINK_OPTIONS -m32)
check_c_source_compiles("int main(void) { return 0; }" BREVLO_C_COMPILER_MAKES_I386)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(BREVLO_C_COMPILER_MAKES_I386)
  add_library(qemu_mmap_noreplace MODULE qemu_mmap_noreplace.c)
  target_compile_options(qemu_mmap_noreplace PRIVATE -m32)
  target_compile_definitions(qemu_mmap_noreplace PRIVATE _GNU_SOURCE)
  target_link_options(qemu_mmap_noreplace PRIVATE -m32)
  set(windows_qemu_preload --qemu-preload $<TARGET_FILE:qemu_mmap_noreplace>)
endif()

# One set of tests per DLL: test name, preset, MinGW triplet, objdump's name
# for the processor, DLL name and Wine architecture.
function(brevlo_add_windows_tests name preset triplet machine dll wine_arch)
  string(TOUPPER ${name} upper_name)
  find_program(BREVLO_${upper_name}_OBJDUMP ${triplet}-objdump)
  set(wine_loader /usr/lib/wine/wine64)
  if(wine_arch STREQUAL "win32")
    set(wine_loader /usr/lib/wine/wine)
  endif()
  if(NOT BREVLO_${upper_name}_OBJDUMP OR NOT EXISTS ${wine_loader})
    message(STATUS "${dll} tests are off (${triplet}-objdump or ${wine_loader} missing)")
    return()
  endif()
  set(BREVLO_${upper_name}_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/${preset}"
    CACHE PATH "Build folder of the ${preset} preset")
  set(build_dir "${BREVLO_${upper_name}_BUILD_DIR}")

  set(dll_path ${build_dir}/${dll})
  set(host_program ${build_dir}/tests/windows_host_test.exe)
  set(command_exe ${build_dir}/tools/brevlo.exe)
  add_test(NAME ${name}.dll_layout
    COMMAND ${windows_unless_built} ${preset} ${dll_path} ${command_exe} --
      ${CMAKE_CURRENT_SOURCE_DIR}/check_dll_layout.sh ${BREVLO_${upper_name}_OBJDUMP}
      ${dll_path} ${machine} ${command_exe})

  # The prefix lives in the build folder and is made once (slow the first time).
  set(preload)
  if(wine_arch STREQUAL "win32")
    set(preload ${windows_qemu_preload})
  endif()
  add_test(NAME ${name}.host_under_wine
    COMMAND ${windows_unless_built} ${preset} ${dll_path} ${host_program} --
      ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${preload} ${wine_arch}
      ${CMAKE_BINARY_DIR}/wine-prefix-${wine_arch} ${host_program}
      ${dll_path} ${windows_run}/corpus ${windows_run}/${name}-work)
  # Tests in one prefix take turns: each stops its Wine session at the end.
  set_tests_properties(${name}.host_under_wine PROPERTIES
    FIXTURES_REQUIRED windows_corpus
    TIMEOUT 900
    RESOURCE_LOCK wine-prefix-${wine_arch})

  # brevlo.exe against this build's command, row by row (windows_command_test.py).
  if(TARGET brevlo_cli)
    add_test(NAME ${name}.command_under_wine
      COMMAND ${windows_unless_built} ${preset} ${command_exe} --
        ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${preload} --driver ${wine_arch}
        ${CMAKE_BINARY_DIR}/wine-prefix-${wine_arch} ${BREVLO_PYTHON}
        ${CMAKE_CURRENT_SOURCE_DIR}/windows_command_test.py $<TARGET_FILE:brevlo_cli>
        ${command_exe} ${windows_run}/${name}-command)
    set_tests_properties(${name}.command_under_wine PROPERTIES
      TIMEOUT 900
      SKIP_RETURN_CODE 77
      RESOURCE_LOCK wine-prefix-${wine_arch})
  endif()

  # The archive, tried as a Windows user would: under Wine when the command is
  # built here to compare with.
  set(archive_runner)
  set(linux_command true)
  if(TARGET brevlo_cli)
    set(archive_runner ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${preload} ${wine_arch}
      ${CMAKE_BINARY_DIR}/wine-prefix-${wine_arch})
    set(linux_command $<TARGET_FILE:brevlo_cli>)
  endif()
  add_test(NAME ${name}.archive
    COMMAND ${windows_unless_built} ${preset} ${dll_path} ${command_exe} --
      ${CMAKE_CURRENT_SOURCE_DIR}/check_windows_archive.sh ${build_dir} ${dll}
      ${windows_run}/${name}-archive ${PROJECT_SOURCE_DIR} ${triplet} ${linux_command}
      ${archive_runner})
  set_tests_properties(${name}.archive PROPERTIES
    ENVIRONMENT "CPACK=${CMAKE_CPACK_COMMAND}"
    TIMEOUT 900
    RESOURCE_LOCK wine-prefix-${wine_arch})
  set_tests_properties(${name}.dll_layout ${name}.host_under_wine ${name}.archive
    PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

brevlo_add_windows_tests(windows mingw-i686 i686-w64-mingw32 i386 brevlo32.dll win32)
brevlo_add_windows_tests(windows64 mingw-x86_64 x86_64-w64-mingw32 x86-64 brevlo64.dll win64)
