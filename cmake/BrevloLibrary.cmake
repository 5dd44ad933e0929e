# The converter: one set of objects, linked as the shared library that hosts
# load and as a static library that the unit tests reach into.
set(BREVLO_SOURCES
  src/api/convert.cpp
  src/api/info.cpp
  src/engine/bmp_writer.cpp
  src/engine/conversion.cpp
  src/engine/gif_parser.cpp
  src/engine/input_reader.cpp
  src/engine/lzw_decoder.cpp
)
if(WIN32)
  list(APPEND BREVLO_SOURCES src/platform/platform_win32.cpp)
else()
  list(APPEND BREVLO_SOURCES src/platform/platform_posix.cpp)
endif()

add_library(brevlo_objects OBJECT ${BREVLO_SOURCES})
target_include_directories(brevlo_objects
  PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
target_compile_definitions(brevlo_objects PRIVATE BREVLO_BUILDING_LIBRARY)
set_target_properties(brevlo_objects PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(brevlo_objects PRIVATE $<$<CXX_COMPILER_ID:GNU,Clang>:-fno-exceptions -fno-rtti>)

# The internal engine, for tests, benchmarks and fuzzers.
add_library(brevlo_static STATIC $<TARGET_OBJECTS:brevlo_objects>)
target_include_directories(brevlo_static PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)

# The library hosts load: exactly two exported functions.
add_library(brevlo SHARED $<TARGET_OBJECTS:brevlo_objects>)
target_include_directories(brevlo PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:include>)
set_target_properties(brevlo PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/BrevloWindowsDll.cmake)
else()
  target_link_options(brevlo PRIVATE
    "LINKER:--version-script=${PROJECT_SOURCE_DIR}/src/api/exports.map"
    "LINKER:--no-undefined")
  set_property(TARGET brevlo APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/src/api/exports.map)
endif()
