# The box driver's channel map file and command line.
hall_add_fuzzer(hall_config_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hall_config_fuzz.cpp
                LIBS boxhall)
hall_add_fuzzer(boxdriver_options_fuzz
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/boxdriver_options_fuzz.cpp
                LIBS box_options)
hall_add_fuzzer(boxdriver_control_fuzz
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/boxdriver_control_fuzz.cpp
                LIBS box_control)
