# What `cmake --install` puts into a prefix: the shared library, its header, the
# brevlo command and its manual page, a pkg-config file and a CMake package
# giving the imported target brevlo::brevlo. The internal static library and
# the tests stay in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BREVLO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/brevlo)

install(TARGETS brevlo EXPORT brevloTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/brevlo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT brevloTargets NAMESPACE brevlo:: DESTINATION ${BREVLO_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/brevloConfig.cmake.in
  ${PROJECT_BINARY_DIR}/brevloConfig.cmake INSTALL_DESTINATION ${BREVLO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/brevloConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/brevloConfig.cmake ${PROJECT_BINARY_DIR}/brevloConfigVersion.cmake
  DESTINATION ${BREVLO_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so the package works
# wherever it is installed (cmake --install --prefix included).
file(RELATIVE_PATH BREVLO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" BREVLO_PC_TO_PREFIX "${BREVLO_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/brevlo.pc.in ${PROJECT_BINARY_DIR}/brevlo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/brevlo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET brevlo_cli)
  install(TARGETS brevlo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/brevlo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
