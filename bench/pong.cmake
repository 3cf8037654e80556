# The game's frame clock over 10 seconds (mean period, lateness, CPU
# share) and the cost of one frame of physics and drawing.
if(TARGET pong_game)
  add_executable(pong_frame_clock pong_frame_clock.cpp)
  target_link_libraries(pong_frame_clock PRIVATE pong_game wire)
  target_include_directories(pong_frame_clock PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  set_target_properties(pong_frame_clock PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  if(benchmark_FOUND)
    add_executable(pong_render_bench pong_render_bench.cpp)
    target_link_libraries(pong_render_bench PRIVATE pong_game benchmark::benchmark)
    set_target_properties(pong_render_bench PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  endif()
endif()
