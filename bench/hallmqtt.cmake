# The MQTT bridge: a command's way from the hub to the lamps (through
# hallmqtt, the box driver and boxemu), against the driver's own control
# socket and a bare MQTT message in the same run; a show's pattern command
# the same way through glimhost; and how soon the bridge is back after the
# broker restarts. A private mosquitto; ports 7878 and 7879 free.
if(NOT TARGET hallmqtt)
  return()
endif()
pkg_check_modules(MOSQUITTO_BENCH REQUIRED IMPORTED_TARGET libmosquitto)
add_executable(hallmqtt_latency ${CMAKE_CURRENT_LIST_DIR}/hallmqtt_latency.cpp)
target_include_directories(hallmqtt_latency PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(hallmqtt_latency PRIVATE boxline PkgConfig::MOSQUITTO_BENCH Threads::Threads)
target_compile_definitions(hallmqtt_latency PRIVATE
  BOXEMU="$<TARGET_FILE:boxemu>" BOXDRIVER="$<TARGET_FILE:boxdriver>"
  HALLMQTT="$<TARGET_FILE:hallmqtt>" GLIMHOST="$<TARGET_FILE:glimhost>")
add_dependencies(hallmqtt_latency boxemu boxdriver hallmqtt glimhost)
if(TARGET glim)
  add_dependencies(hallmqtt_latency glim)
endif()
set_target_properties(hallmqtt_latency PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
