# Helpers shared by the test folders.
find_package(GTest REQUIRED)
include(GoogleTest)

# hall_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LOCK port_7878])
# One GoogleTest executable; each TEST becomes its own CTest test. LOCK
# names a CTest resource lock (for tests that bind a fixed port such as
# 7878) so that parallel runs never share the port. Tests find the trees
# through HALL_SOURCE_DIR and HALL_BINARY_DIR (string macros).
function(hall_add_gtest name)
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    HALL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" HALL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_LOCK)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
      PROPERTIES TIMEOUT 60 RESOURCE_LOCK ${T_LOCK})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}." PROPERTIES TIMEOUT 60)
  endif()
endfunction()
