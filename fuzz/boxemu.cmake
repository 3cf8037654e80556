# boxemu's command line.
hall_add_fuzzer(boxemu_options_fuzz SOURCES boxemu_options_fuzz.cpp LIBS emu_options)
