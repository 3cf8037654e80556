# Web console: a frame's way from the producer's datagram to the WebSocket
# message at the pages, with 1 and with 32 pages, and the console's CPU.
if(TARGET hallweb)
  add_executable(hallweb_latency ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_latency.cpp)
  target_link_libraries(hallweb_latency PRIVATE ${CIVETWEB_LIBRARY} Threads::Threads)
  target_include_directories(hallweb_latency PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(hallweb_latency PRIVATE HALLWEB_PATH="$<TARGET_FILE:hallweb>")
  add_dependencies(hallweb_latency hallweb)
  set_target_properties(hallweb_latency PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()

# The lamps and the web console under a hostile host's loads, beside an
# idle run; the programs of this build, or of another with --bin DIR.
if(TARGET hallweb AND TARGET boxdriver AND TARGET testfeed)
  add_executable(hallweb_hostile ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_hostile.cpp)
  target_link_libraries(hallweb_hostile PRIVATE util Threads::Threads)
  target_include_directories(hallweb_hostile PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(hallweb_hostile PRIVATE HALL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_dependencies(hallweb_hostile hallweb boxdriver testfeed)
  set_target_properties(hallweb_hostile PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
