# The Debian package: one package with the shared library (and its SONAME
# link), the header, pkg-config file and CMake package, the command and its
# manual page, installed under /usr with the library in the multiarch folder.
# Its dependencies come from dpkg-shlibdeps; the copyright file and changelog
# are installed by BrevloDocuments.cmake; the triggers file has the dynamic
# linker's cache rebuilt after installation and removal
# (BrevloDebianRepack.cmake takes out CPack's own calls of ldconfig).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Programs built against this version run with any later one of the same SONAME.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/BrevloDebianRepack.cmake)

# The package holds what `cmake --install` puts under /usr, with the library
# folder GNUInstallDirs gives /usr (lib/x86_64-linux-gnu), whatever prefix this
# build folder was configured for. CPack installs the default component, which
# holds everything but the library folder, then that folder for /usr: the
# build's own (component library) when it is the same, else a second set
# (component debian). The debian component also holds lintian's notes on the
# one-package layout. CPack installs with DESTDIR, so that the install rules see
# the prefix /usr and the pkg-config file names it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
set(BREVLO_DEBIAN_LIBDIR lib)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(BREVLO_DEBIAN_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
set(debian_components Unspecified library debian)
if(NOT BREVLO_DEBIAN_LIBDIR STREQUAL CMAKE_INSTALL_LIBDIR)
  brevlo_install_library_folder(${BREVLO_DEBIAN_LIBDIR} debian EXCLUDE_FROM_ALL)
  list(REMOVE_ITEM debian_components library)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${PROJECT_NAME}
  COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component IN LISTS debian_components)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${PROJECT_BINARY_DIR} ${PROJECT_NAME} ${component} /)
endforeach()

# The summary comes first, from CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack
# indents these lines and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"brevlo converts GIF images into 8-bit palettised Windows BMP files. The BMP
has the image's width and height, a 256-entry palette from the GIF's colour
table and the GIF's colour indices as its pixels, rows bottom-up.

This package holds the shared library, whose two C functions convert one
file (BREVLO32) and hand out an information text (BREVLOInfo), with its
header, pkg-config file and CMake package for building programs against it,
and the brevlo command, which converts many files at once.")
