# dmxout: frame latency from the producer's datagram to a client on the
# universe, against a minimal OLA sender in the same run, and its CPU
# share at 44 frames a second (a private olad, make bench).
if(NOT TARGET dmxout)
  return()
endif()
add_executable(dmx_latency ${CMAKE_CURRENT_LIST_DIR}/dmx_latency.cpp)
target_include_directories(dmx_latency PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(dmx_latency PRIVATE PkgConfig::OLA)
target_compile_definitions(dmx_latency PRIVATE DMXOUT="$<TARGET_FILE:dmxout>")
add_dependencies(dmx_latency dmxout)
set_target_properties(dmx_latency PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
