# The control sockets' words as their readers take them from outside: the
# box driver's answer line, the light show's commands and answer line.
hall_add_fuzzer(wire_control_answer_fuzz
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wire_control_answer_fuzz.cpp LIBS wire_json)
hall_add_fuzzer(show_control_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/show_control_fuzz.cpp
                LIBS wire_json)
