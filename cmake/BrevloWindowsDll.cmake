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
    "; brevlo64.dll's whole interface: two functions at fixed ordinals, exported\n; under their plain names, as brevlo32.dll's. An import library made from it:\n;   llvm-dlltool -m i386:x86-64 -d brevlo64.def -l brevlo64.lib\n;   x86_64-w64-mingw32-dlltool -d brevlo64.def -l libbrevlo64.dll.a\n${def_text}\n")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/api/brevlo32.def)
endif()

target_sources(brevlo PRIVATE src/api/dll_main.cpp ${BREVLO_DLL_DEF})
set_target_properties(brevlo PROPERTIES PREFIX "" OUTPUT_NAME ${BREVLO_DLL_NAME})

# The import library MSVC links against (brevlo32.lib, brevlo64.lib), in the
# short import format of Microsoft's own, made by LLVM's dlltool from the same
# list; --kill-at, as for the DLL, keeps the decorated names that 32-bit
# __stdcall callers refer to (_BREVLO32@8) while they import the plain ones.
find_program(BREVLO_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14
  DOC "LLVM's dlltool, which makes the import library for MSVC")
if(BREVLO_LLVM_DLLTOOL)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(dlltool_machine i386 --kill-at)
  else()
    set(dlltool_machine i386:x86-64)
  endif()
  set(BREVLO_MSVC_IMPORT_LIBRARY ${PROJECT_BINARY_DIR}/${BREVLO_DLL_NAME}.lib)
  add_custom_command(OUTPUT ${BREVLO_MSVC_IMPORT_LIBRARY}
    COMMAND ${BREVLO_LLVM_DLLTOOL} -m ${dlltool_machine} -d ${BREVLO_DLL_DEF}
      -l ${BREVLO_MSVC_IMPORT_LIBRARY}
    DEPENDS ${BREVLO_DLL_DEF}
    COMMENT "Making the MSVC import library ${BREVLO_DLL_NAME}.lib"
    VERBATIM)
  add_custom_target(brevlo_msvc_import_library ALL DEPENDS ${BREVLO_MSVC_IMPORT_LIBRARY})
else()
  message(WARNING "llvm-dlltool not found (Debian: llvm): the archive will lack "
    "${BREVLO_DLL_NAME}.lib, the import library for MSVC")
endif()
