# glimhost's command line (the --pattern NAME:OPTIONS split included).
hall_add_fuzzer(host_options_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host_options_fuzz.cpp
  LIBS host_options)

# Sound files as glimhost opens and reads them (header, channel layout,
# rate checks, reading to the end), through libsndfile.
hall_add_fuzzer(host_soundfile_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host_soundfile_fuzz.cpp
  LIBS hostcore)

# The analysis cache's files as glimhost reads them (a damaged or foreign
# file must be refused, never trusted).
hall_add_fuzzer(song_cache_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/song_cache_fuzz.cpp
  LIBS song)

# A datagram on glimhost's control socket (--control): the server's
# sender check, the show's command reader, the steering and the answer.
hall_add_fuzzer(host_control_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host_control_fuzz.cpp
  LIBS hostcore wire_json)
