# GoogleTest: Debian's library natively, built from Debian's sources when
# cross-compiling for Windows.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
  add_library(dov_test_main STATIC
              ${PROJECT_SOURCE_DIR}/tests/support/windows_test_main.cpp)
  target_link_libraries(dov_test_main PUBLIC GTest::gmock GTest::gtest)
  set(dov_test_main dov_test_main)
else()
  find_package(GTest REQUIRED)
  set(dov_test_main GTest::gtest_main)
endif()

# dov_add_test(NAME name SOURCES ... LIBS ... [TIMEOUT seconds] [LABELS ...])
# One test executable, run by ctest as one test (under Wine when
# cross-compiling, through CMAKE_CROSSCOMPILING_EMULATOR).
function(dov_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  dov_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ${dov_test_main}
                        GTest::gmock)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
