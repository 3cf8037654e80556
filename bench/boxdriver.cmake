# Box driver: frame latency from datagram to serial line against a bare
# relay, and the sustained frame rate.
add_executable(boxdriver_latency ${CMAKE_CURRENT_SOURCE_DIR}/boxdriver_latency.cpp)
target_link_libraries(boxdriver_latency PRIVATE util)
target_compile_definitions(boxdriver_latency PRIVATE
  BOXDRIVER_PATH="$<TARGET_FILE:boxdriver>")
add_dependencies(boxdriver_latency boxdriver)
set_target_properties(boxdriver_latency PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
