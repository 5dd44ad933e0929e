# The documents installed beside the library and the command on Linux, in the
# forms Debian expects: the manual page and the changelog compressed with
# gzip -9n (no name or time stamp in the header, so the same sources give the
# same bytes), and the licence as a machine-readable copyright file.
find_program(BREVLO_GZIP gzip REQUIRED)
set(BREVLO_DOCUMENTS_DIR ${PROJECT_BINARY_DIR}/documents)

# Makes ${BREVLO_DOCUMENTS_DIR}/NAME.gz from source at build time, and installs
# it into destination.
function(brevlo_compressed_document source name destination)
  set(copy ${BREVLO_DOCUMENTS_DIR}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${BREVLO_GZIP} -9nf ${copy}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  set_property(DIRECTORY APPEND PROPERTY BREVLO_COMPRESSED_DOCUMENTS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()

brevlo_compressed_document(${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog
  ${CMAKE_INSTALL_DOCDIR})
if(TARGET brevlo_cli)
  brevlo_compressed_document(${PROJECT_SOURCE_DIR}/tools/brevlo.1 brevlo.1 ${CMAKE_INSTALL_MANDIR}/man1)
endif()
get_property(compressed DIRECTORY PROPERTY BREVLO_COMPRESSED_DOCUMENTS)
add_custom_target(brevlo_documents ALL DEPENDS ${compressed})

# The copyright file: the licence's copyright line and terms under Debian's
# field names, the terms indented one space, with " ." for each empty line.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)")
  message(FATAL_ERROR "LICENSE has no copyright line")
endif()
set(copyright_holders "${CMAKE_MATCH_1}")
string(FIND "${license}" "Permission is hereby granted" terms_start)
string(SUBSTRING "${license}" ${terms_start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms " ${terms}")
file(CONFIGURE OUTPUT ${BREVLO_DOCUMENTS_DIR}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${copyright_holders}
License: Expat
${terms}
")

install(FILES ${BREVLO_DOCUMENTS_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
