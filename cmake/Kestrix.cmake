# kestrix_library(NAME DEPS ...): one static library per src/NAME folder, an INTERFACE
# library for a folder of headers only. Sources are picked up from the folder (and
# src/platform/linux for the platform), so adding a file needs no edit here; re-run cmake
# after adding one.
function(kestrix_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp
       ${PROJECT_SOURCE_DIR}/src/${name}/linux/*.cpp)
  if(NOT _src)
    add_library(kestrix_${name} INTERFACE)
    target_include_directories(kestrix_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kestrix_${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(kestrix_${name} STATIC ${_src})
  target_include_directories(kestrix_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kestrix_${name} PUBLIC ${ARG_DEPS})
endfunction()

# kestrix_test_folder(NAME DEPS ... [PROPERTIES ...]): one GoogleTest executable for
# tests/NAME; PROPERTIES are added to each of its tests.
function(kestrix_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(test_${name} ${_src})
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} kestrix_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE
    KESTRIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KESTRIX_BINARY_DIR="${PROJECT_BINARY_DIR}"
    KESTRIX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(test_${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${name} TIMEOUT 300 ${ARG_PROPERTIES})
endfunction()

# kestrix_embed_files(TARGET OUTPUT FILES NAME=PATH ... [NAMESPACE NS]): a source file,
# generated at build time and added to TARGET, that holds each file's bytes (through the
# assembler's .incbin, so a large file costs no compile time) and a table of them by NAME
# (EmbeddedFiles.h; FindEmbeddedFile in namespace NS, kestrix unless named, so that two
# programs' tables can sit in one test binary). It
# is written again whenever one of the files changes; each file's SHA-256 is part of the
# generated source, so a compiler cache never hands back an object with old bytes.
function(kestrix_embed_files target)
  cmake_parse_arguments(ARG "" "OUTPUT;NAMESPACE" "FILES" ${ARGN})
  if(NOT ARG_NAMESPACE)
    set(ARG_NAMESPACE kestrix)
  endif()
  set(_deps)
  foreach(_entry ${ARG_FILES})
    string(REGEX REPLACE "^[^=]*=" "" _path "${_entry}")
    list(APPEND _deps "${_path}")
  endforeach()
  string(REPLACE ";" "|" _list "${ARG_FILES}")
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${ARG_OUTPUT}" "-DFILES=${_list}" "-DNAMESPACE=${ARG_NAMESPACE}" -P ${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake
    DEPENDS ${_deps} ${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake
    COMMENT "Embedding ${target}'s files"
    VERBATIM)
  # Data only: no precompiled header of the target's.
  set_source_files_properties(${ARG_OUTPUT} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  target_sources(${target} PRIVATE ${ARG_OUTPUT})
endfunction()
