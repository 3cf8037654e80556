# The web console's parsers of outside input: the pages' messages, the token
# file, the command line, the frames of a page and the Host of a request (the
# control sockets' answers are read by wire_json, fuzzed there).
hall_add_fuzzer(hallweb_message_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_message_fuzz.cpp
                LIBS hallweb_message)
hall_add_fuzzer(hallweb_token_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_token_fuzz.cpp
                LIBS hallweb_options)
hall_add_fuzzer(hallweb_options_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_options_fuzz.cpp
                LIBS hallweb_options)
hall_add_fuzzer(hallweb_frame_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_frame_fuzz.cpp
                LIBS hallweb_message)
hall_add_fuzzer(hallweb_host_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/hallweb_host_fuzz.cpp
                LIBS hallweb_options)
