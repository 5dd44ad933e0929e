# What `cmake --install` puts into a prefix: the shared library, its header, the
# brevlo command and its manual page, a pkg-config file and a CMake package
# giving the imported target brevlo::brevlo; on Linux also the copyright file
# and changelog, on Windows the module-definition file, README and licence.
# The internal static library and the tests stay in the build tree.

# The library folder is GNUInstallDirs' choice: on Debian and its derivatives
# the multiarch folder (lib/x86_64-linux-gnu) for the prefix /usr, lib for any
# other; CMAKE_INSTALL_LIBDIR chooses another. Build folders configured by
# earlier versions hold the multiarch folder for every prefix, cached by them
# under the doc string below; it is forgotten, so that GNUInstallDirs chooses.
get_property(libdir_help CACHE CMAKE_INSTALL_LIBDIR PROPERTY HELPSTRING)
if(libdir_help STREQUAL "Object code libraries (LIBDIR)")
  unset(CMAKE_INSTALL_LIBDIR CACHE)
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The name the linker knows the library by: brevlo, or on Windows the DLL's
# import library (libbrevlo32.dll.a or libbrevlo64.dll.a).
get_target_property(BREVLO_LINK_NAME brevlo OUTPUT_NAME)
if(NOT BREVLO_LINK_NAME)
  set(BREVLO_LINK_NAME brevlo)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/brevloConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)

# On Linux the pkg-config file names its prefix outright, as most libraries'
# do, so that pkg-config prints plain paths (-I<prefix>/include -L<libdir>) for
# any prefix, and nothing for the system folders of /usr, which it leaves out
# only when they are written so. pkg-config does not tidy a path found from the
# file's own place (${pcfiledir}/../..), so the file is not relocatable: a
# prefix moved afterwards is described from its new place by
# `pkg-config --define-prefix`. The prefix is known only at install time
# (cmake --install --prefix), so the file is completed then; a relative prefix
# is taken from the folder the install runs in, as the install itself takes it.
# The Windows files ship as an archive unpacked anywhere, and pkg-config there
# finds the prefix from the file's place by default, so that file names it so.
function(brevlo_install_pkg_config_file libdir generated component)
  set(template ${PROJECT_SOURCE_DIR}/cmake/brevlo.pc.in)
  set(made ${generated}/pkgconfig)
  set(pc_libdir ${libdir})
  if(WIN32)
    file(RELATIVE_PATH to_prefix /prefix/${libdir}/pkgconfig /prefix)
    string(REGEX REPLACE "/$" "" to_prefix "${to_prefix}")
    set(pc_prefix "\${pcfiledir}/${to_prefix}")
    configure_file(${template} ${made}/brevlo.pc @ONLY)
    install(FILES ${made}/brevlo.pc DESTINATION ${libdir}/pkgconfig COMPONENT ${component} ${ARGN})
    return()
  endif()
  set(pc_prefix [[@pc_prefix@]])
  configure_file(${template} ${made}/brevlo.pc.in @ONLY)
  install(CODE "
    set(pc_prefix \"\")
    if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"\")
      cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_PREFIX NORMALIZE OUTPUT_VARIABLE pc_prefix)
      string(REGEX REPLACE \"/+$\" \"\" pc_prefix \"\${pc_prefix}\")
    endif()
    # A folder of each destination's own, so that installs into two places
    # at once (the tests' prefix and cpack's) never share a file.
    string(MD5 destination \"\$ENV{DESTDIR}\${pc_prefix}\")
    configure_file(\"${made}/brevlo.pc.in\" \"${made}/\${destination}/brevlo.pc\" @ONLY)
    file(INSTALL \"${made}/\${destination}/brevlo.pc\"
      DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${libdir}/pkgconfig\")"
    COMPONENT ${component} ${ARGN})
endfunction()

# Installs what lives in the library folder LIBDIR (the library, the CMake
# package and the pkg-config file) as the install COMPONENT; further arguments
# (EXCLUDE_FROM_ALL) go to each rule. The Debian package installs a second set
# into the folder it needs under /usr (BrevloDebianPackage.cmake).
function(brevlo_install_library_folder libdir component)
  set(cmake_dir ${libdir}/cmake/brevlo)
  set(generated ${PROJECT_BINARY_DIR}/install-${component})
  install(TARGETS brevlo EXPORT brevlo-${component} COMPONENT ${component} ${ARGN}
    LIBRARY DESTINATION ${libdir}
    ARCHIVE DESTINATION ${libdir}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(EXPORT brevlo-${component} FILE brevloTargets.cmake NAMESPACE brevlo::
    DESTINATION ${cmake_dir} COMPONENT ${component} ${ARGN})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/brevloConfig.cmake.in
    ${generated}/brevloConfig.cmake INSTALL_DESTINATION ${cmake_dir})
  install(FILES ${generated}/brevloConfig.cmake ${PROJECT_BINARY_DIR}/brevloConfigVersion.cmake
    DESTINATION ${cmake_dir} COMPONENT ${component} ${ARGN})
  brevlo_install_pkg_config_file(${libdir} ${generated} ${component} ${ARGN})
endfunction()

brevlo_install_library_folder(${CMAKE_INSTALL_LIBDIR} library)
install(FILES ${PROJECT_SOURCE_DIR}/include/brevlo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(TARGET brevlo_cli)
  install(TARGETS brevlo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(WIN32)
  # Beside the DLL and its import library: the export list, for tools that
  # make import libraries of their own, and the README and licence.
  install(FILES ${BREVLO_DLL_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/BrevloDocuments.cmake)
endif()
