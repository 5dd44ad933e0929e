# The converter: one set of engine objects, linked with the platform layer as
# the shared library that hosts load and as a static library for the command
# and the benchmark, and with a platform layer that carries test seams as the
# static library the tests and the fuzzer reach into. Only that last one holds
# any test code.
set(BREVLO_ENGINE_SOURCES
  src/api/convert.cpp
  src/api/info.cpp
  src/engine/bmp_writer.cpp
  src/engine/gif_blocks.cpp
  src/engine/gif_parser.cpp
  src/engine/input_reader.cpp
  src/engine/lzw_decoder.cpp
)
# Every frame of an animation, for the Linux library and the command on each
# system: the DLLs export BREVLO32 and BREVLOInfo alone, which never reach it.
set(BREVLO_FRAMES_SOURCES
  src/engine/compositor.cpp
  src/engine/frame_parser.cpp
  src/engine/frame_writer.cpp)
if(NOT WIN32)
  list(APPEND BREVLO_ENGINE_SOURCES ${BREVLO_FRAMES_SOURCES})
endif()
if(WIN32)
  # The exported functions take names in the ANSI code page (file_names_win32.h).
  set(BREVLO_PLATFORM_SOURCE src/platform/platform_win32.cpp
    src/platform/file_names_ansi_win32.cpp)
else()
  set(BREVLO_PLATFORM_SOURCE src/platform/platform_posix.cpp)
  # 64-bit file offsets in 32-bit builds too: a BMP may pass 2 GiB. C++ only:
  # the project's C (a test's preload library) defines the system's own calls.
  add_compile_definitions($<$<COMPILE_LANGUAGE:CXX>:_FILE_OFFSET_BITS=64>)
endif()

function(brevlo_objects name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  target_compile_definitions(${name} PRIVATE BREVLO_BUILDING_LIBRARY)
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${name} PRIVATE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-fno-exceptions -fno-rtti>)
endfunction()

brevlo_objects(brevlo_engine_objects ${BREVLO_ENGINE_SOURCES})
brevlo_objects(brevlo_platform_objects ${BREVLO_PLATFORM_SOURCE})

# The engine as users get it, for the command and the benchmark. On Windows
# the command takes names as UTF-8, so its engine opens files by the wide API,
# and it writes frames, which the DLLs leave out.
if(WIN32)
  brevlo_objects(brevlo_utf8_platform_objects src/platform/platform_win32.cpp
    src/platform/file_names_utf8_win32.cpp src/platform/unicode_win32.cpp)
  brevlo_objects(brevlo_frames_objects ${BREVLO_FRAMES_SOURCES})
  add_library(brevlo_static STATIC
    $<TARGET_OBJECTS:brevlo_engine_objects> $<TARGET_OBJECTS:brevlo_frames_objects>
    $<TARGET_OBJECTS:brevlo_utf8_platform_objects>)
else()
  add_library(brevlo_static STATIC
    $<TARGET_OBJECTS:brevlo_engine_objects> $<TARGET_OBJECTS:brevlo_platform_objects>)
endif()
target_include_directories(brevlo_static PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)

# The same engine on a platform layer with test seams, for tests and fuzzers.
if(NOT WIN32)
  brevlo_objects(brevlo_seam_objects ${BREVLO_PLATFORM_SOURCE} src/platform/fault_injection.cpp)
  target_compile_definitions(brevlo_seam_objects PUBLIC BREVLO_FAULT_INJECTION)
  add_library(brevlo_testable STATIC
    $<TARGET_OBJECTS:brevlo_engine_objects> $<TARGET_OBJECTS:brevlo_seam_objects>)
  target_include_directories(brevlo_testable PUBLIC
    ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(brevlo_testable PUBLIC BREVLO_FAULT_INJECTION)
endif()

# The library hosts load: exactly its exported functions.
add_library(brevlo SHARED
  $<TARGET_OBJECTS:brevlo_engine_objects> $<TARGET_OBJECTS:brevlo_platform_objects>)
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
