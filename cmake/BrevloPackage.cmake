# What `cpack` makes in a build folder from the install rules: a Debian package
# on Linux (brevlo_VERSION_ARCH.deb, see BrevloDebianPackage.cmake), and a ZIP
# archive in a MinGW build folder (brevlo-VERSION-win32.zip or -win64.zip)
# with the DLL, its import library and .def file, the header, README and LICENSE.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the brevlo authors")
set(BREVLO_PACKAGE_MAINTAINER "the brevlo authors <brevlo@example.org>"
  CACHE STRING "Name and e-mail address of whoever answers for the packages")
set(CPACK_PACKAGE_CONTACT "${BREVLO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GIF to 8-bit BMP converter library and command")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)

if(WIN32)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win${bits})
else()
  include(${CMAKE_CURRENT_LIST_DIR}/BrevloDebianPackage.cmake)
endif()

include(CPack)
