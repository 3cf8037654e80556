# The option strings of the eleven extra patterns: init on arbitrary text,
# then frames. The pattern sources are compiled in so libFuzzer sees their
# branches.
set(xmms_pattern_sources
  ${CMAKE_SOURCE_DIR}/xmms/src/simple_patterns_equalizers.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/simple_patterns_meters.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/simple_patterns_motion.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/simple_patterns_explosion.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/game_patterns.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/simple_patterns.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/pattern_options.cpp
  ${CMAKE_SOURCE_DIR}/xmms/src/beat_clock.cpp)
hall_add_fuzzer(xmms_pattern_options_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/xmms_pattern_options_fuzz.cpp
          ${xmms_pattern_sources}
  LIBS glim_beat m)
target_include_directories(xmms_pattern_options_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/xmms/src)

# The patterns that follow the beat, with the beat from a grid made of the
# same bytes (the grid's handover and its cursor under fire too).
hall_add_fuzzer(xmms_beat_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/xmms_beat_fuzz.cpp
          ${xmms_pattern_sources}
          ${CMAKE_SOURCE_DIR}/xmms/src/beat_patterns.cpp
  LIBS glim_beat m)
target_include_directories(xmms_beat_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/xmms/src)
