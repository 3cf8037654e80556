# glimhost: audio-to-light latency (in-process, click in silence), the
# host's CPU share running the demo, and the cost of one callback's
# analysis and of rendering the demo music.
add_executable(host_latency ${CMAKE_CURRENT_LIST_DIR}/host_latency.cpp)
target_include_directories(host_latency PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(host_latency PRIVATE hostcore netserver)

add_executable(host_cpu ${CMAKE_CURRENT_LIST_DIR}/host_cpu.cpp)
target_include_directories(host_cpu PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(host_cpu PRIVATE
  GLIMHOST="$<TARGET_FILE:glimhost>" HALL_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(host_cpu glimhost)

set(host_benches host_latency host_cpu)
if(benchmark_FOUND)
  add_executable(host_analysis ${CMAKE_CURRENT_LIST_DIR}/host_analysis.cpp)
  target_link_libraries(host_analysis PRIVATE hostcore benchmark::benchmark)
  list(APPEND host_benches host_analysis)
endif()
set_target_properties(${host_benches} PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
