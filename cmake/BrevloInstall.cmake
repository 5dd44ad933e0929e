# What `cmake --install` puts into a prefix: the shared library, its header, the
# brevlo command and its manual page, a pkg-config file and a CMake package
# giving the imported target brevlo::brevlo; on Linux also the copyright file
# and changelog, on Windows the module-definition file, README and licence.
# The internal static library and the tests stay in the build tree.

# On Debian and its derivatives the library goes into the multiarch folder
# (lib/x86_64-linux-gnu) whatever the prefix, as the system's own packages and
# the linker's search path expect; elsewhere, and when set, CMAKE_INSTALL_LIBDIR.
if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version AND NOT CMAKE_CROSSCOMPILING)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}"
    CACHE PATH "Object code libraries (LIBDIR)")
endif()
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
# The name the linker knows the library by: brevlo, or on Windows the DLL's
# import library (libbrevlo32.dll.a or libbrevlo64.dll.a).
get_target_property(BREVLO_LINK_NAME brevlo OUTPUT_NAME)
if(NOT BREVLO_LINK_NAME)
  set(BREVLO_LINK_NAME brevlo)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/brevlo.pc.in ${PROJECT_BINARY_DIR}/brevlo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/brevlo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

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
