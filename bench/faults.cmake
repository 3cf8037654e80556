# Faults injected into running chains (the serial line pulled, olad stopped
# or killed, a producer killed, subscribers and pages that stop reading, a
# frozen service under a systemd user manager): how long until the lamps
# are right again, what was lost or held up, memory before and after.
if(NOT TARGET dmxout OR NOT TARGET hallweb)
  return()
endif()
add_executable(faults ${CMAKE_CURRENT_LIST_DIR}/faults.cpp)
target_include_directories(faults PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(faults PRIVATE boxline PkgConfig::OLA ${CIVETWEB_LIBRARY} Threads::Threads)
target_compile_definitions(faults PRIVATE HALL_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(faults boxdriver boxemu dmxout testfeed hallweb)
if(TARGET glimhost)
  add_dependencies(faults glimhost)
endif()
if(TARGET glim)
  add_dependencies(faults glim)
endif()
set_target_properties(faults PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
