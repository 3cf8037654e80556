# The MQTT bridge's parsers of outside input: the hub's commands, the
# command line and the password file.
if(TARGET hallmqtt)
  hall_add_fuzzer(hallmqtt_command_fuzz
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallmqtt_command_fuzz.cpp LIBS hallmqtt_home)
  hall_add_fuzzer(hallmqtt_options_fuzz
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallmqtt_options_fuzz.cpp
                  LIBS hallmqtt_options)
endif()
