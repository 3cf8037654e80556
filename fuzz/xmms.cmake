# The pattern plug-in's option strings: parse_string alone, and the table
# patterns that read options (rise, spinning_stripe) run on what it stores.
hall_add_fuzzer(parse_string
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/parse_string.cpp
          ${CMAKE_SOURCE_DIR}/xmms/src/pattern_options.cpp)
hall_add_fuzzer(parse_string_patterns
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/parse_string_patterns.cpp
          ${CMAKE_SOURCE_DIR}/xmms/src/pattern_options.cpp
          ${CMAKE_SOURCE_DIR}/xmms/src/simple_patterns.cpp
          ${CMAKE_SOURCE_DIR}/xmms/src/beat_clock.cpp)
target_link_libraries(parse_string_patterns PRIVATE glim_beat m)
