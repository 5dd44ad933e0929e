# The Windows DLL: brevlo32.dll for 32-bit hosts, brevlo64.dll for 64-bit ones.
# Both export the two functions at their ordinals from the module-definition
# file, and link the C and C++ runtimes in so that the DLL imports only from
# KERNEL32.dll and msvcrt.dll. No timestamp, so the same sources give the same
# bytes; the runtimes' debug sections are stripped outside debug builds.
set(BREVLO_DLL_DEF ${PROJECT_SOURCE_DIR}/src/api/brevlo32.def)
target_link_options(brevlo PRIVATE -static -static-libgcc -static-libstdc++
  "LINKER:--no-insert-timestamp" $<$<NOT:$<CONFIG:Debug>>:-s>)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(BREVLO_DLL_NAME brevlo32)
  # --kill-at: see brevlo32.def.
  target_link_options(brevlo PRIVATE "LINKER:--kill-at")
  # The linker's import library loses the decoration along with the exports;
  # dlltool's keeps it, so programs calling through the header link as well.
  add_custom_command(TARGET brevlo POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${BREVLO_DLL_DEF}
      --dllname brevlo32.dll --output-lib $<TARGET_LINKER_FILE:brevlo>
    VERBATIM)
else()
  # x64 has one calling convention and no name decoration, so the 64-bit list
  # is the 32-bit one with the argument sizes dropped: the same names at the
  # same ordinals. The linker's own import library serves 64-bit callers.
  set(BREVLO_DLL_NAME brevlo64)
  file(READ ${BREVLO_DLL_DEF} def_text)
  string(REGEX REPLACE "(^|\n);[^\n]*" "" def_text "${def_text}")
  string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" def_text "${def_text}")
  string(REPLACE "brevlo32.dll" "brevlo64.dll" def_text "${def_text}")
  string(STRIP "${def_text}" def_text)
  set(BREVLO_DLL_DEF ${PROJECT_BINARY_DIR}/brevlo64.def)
  # Rewritten only when the text changes, so the DLL is not relinked on every configure.
  file(CONFIGURE OUTPUT ${BREVLO_DLL_DEF} @ONLY CONTENT
    "; brevlo64.dll: generated from src/api/brevlo32.def without the __stdcall decoration.\n${def_text}\n")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/api/brevlo32.def)
endif()

target_sources(brevlo PRIVATE src/api/dll_main.cpp ${BREVLO_DLL_DEF})
set_target_properties(brevlo PROPERTIES PREFIX "" OUTPUT_NAME ${BREVLO_DLL_NAME})
