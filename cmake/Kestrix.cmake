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
    KESTRIX_CORPUS_DIR="${PROJECT_SOURCE_DIR}/../shared/corpus")
  gtest_discover_tests(test_${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${name} TIMEOUT 300 ${ARG_PROPERTIES})
endfunction()
