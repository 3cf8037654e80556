# The network light server's frame cost against bare sends.
add_executable(netserver_bench netserver_bench.cpp)
target_link_libraries(netserver_bench PRIVATE netserver)
set_target_properties(netserver_bench PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
