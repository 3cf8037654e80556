# Helpers shared by the test folders.
find_package(GTest REQUIRED)
include(GoogleTest)

# hall_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LOCK port_7878]
#                [FIXTURE name])
# One GoogleTest executable; each TEST becomes its own CTest test. LOCK
# marks tests that bind or talk to the system's fixed ports (7878..10000:
# feeds, paddles, the consumers' port ranges); the value names the port
# for the reader. They all share one CTest resource lock, since these
# ports overlap (a simulator searching from 7879 meets a driver's 7881),
# so no two such tests ever run at once. FIXTURE names a CTest fixture the
# tests need (something made once for all of them, such as an installed
# tree). Tests find the trees through HALL_SOURCE_DIR and HALL_BINARY_DIR
# (string macros).
function(hall_add_gtest name)
  cmake_parse_arguments(T "" "LOCK;FIXTURE" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    HALL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" HALL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(properties TIMEOUT 60)
  if(T_LOCK)
    list(APPEND properties RESOURCE_LOCK fixed_ports)
  endif()
  if(T_FIXTURE)
    list(APPEND properties FIXTURES_REQUIRED ${T_FIXTURE})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
    PROPERTIES ${properties})
endfunction()
