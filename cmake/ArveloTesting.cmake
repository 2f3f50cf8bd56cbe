# Helpers for tests, fuzz targets and their labels.
#
# arvelo_add_test(NAME n SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
#   A GoogleTest executable registered as one CTest test. Label "threaded" puts
#   it in the TSan run; "gui" marks tests that need Qt.
# arvelo_add_fuzzer(NAME n SOURCES ... [LIBS ...] [SEEDS dir...])
#   A libFuzzer target, built only with ARVELO_FUZZ, run by CTest (label "fuzz")
#   for $FUZZ_SECONDS seconds. SEEDS: folders of inputs to start from, read only.

find_package(GTest QUIET)
# Building for Windows: GoogleTest from Debian's sources, with the cross compiler.
if(NOT GTest_FOUND AND CMAKE_CROSSCOMPILING AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(gtest_disable_pthreads OFF CACHE BOOL "")
  set(INSTALL_GTEST OFF CACHE BOOL "")
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(name gtest gtest_main gmock)
    if(NOT TARGET GTest::${name})
      add_library(GTest::${name} ALIAS ${name})
    endif()
  endforeach()
endif()

function(arvelo_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(ARVELO_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    ARVELO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ARVELO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

function(arvelo_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS;SEEDS" ${ARGN})
  if(NOT ARVELO_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
  target_include_directories(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${F_NAME})
  set(corpus ${PROJECT_BINARY_DIR}/fuzz-corpus/${F_NAME})
  set(seeds "")
  foreach(dir ${F_SEEDS})
    string(APPEND seeds " '${dir}'")
  endforeach()
  add_test(NAME ${F_NAME}
    COMMAND sh -c "mkdir -p '${corpus}' && exec '$<TARGET_FILE:${F_NAME}>' -max_total_time=\${FUZZ_SECONDS:-20} -print_final_stats=1 '${corpus}'${seeds}")
  set_tests_properties(${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
