# Cost of one frame of each of the eleven extra patterns (target: well
# under 2 microseconds a frame).
if(benchmark_FOUND AND TARGET glim)
  add_executable(glim_patterns_bench
    ${CMAKE_CURRENT_LIST_DIR}/glim_patterns_frames.cpp)
  target_link_libraries(glim_patterns_bench PRIVATE glim benchmark::benchmark)
  set_target_properties(glim_patterns_bench PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
