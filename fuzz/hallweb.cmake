# The web console's parsers of outside input: the pages' messages, the box
# driver's answer line, the token file, the command line, the frames of a
# page and the Host of a request.
hall_add_fuzzer(hallweb_message_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_message_fuzz.cpp
                LIBS hallweb_message)
hall_add_fuzzer(hallweb_driver_answer_fuzz
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_driver_answer_fuzz.cpp
                LIBS hallweb_message)
hall_add_fuzzer(hallweb_token_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_token_fuzz.cpp
                LIBS hallweb_options)
hall_add_fuzzer(hallweb_options_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_options_fuzz.cpp
                LIBS hallweb_options)
hall_add_fuzzer(hallweb_frame_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_frame_fuzz.cpp
                LIBS hallweb_message)
hall_add_fuzzer(hallweb_host_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_host_fuzz.cpp
                LIBS hallweb_options)
