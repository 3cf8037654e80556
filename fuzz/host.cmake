# glimhost's command line (the --pattern NAME:OPTIONS split included).
hall_add_fuzzer(host_options_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host_options_fuzz.cpp
  LIBS host_options)
