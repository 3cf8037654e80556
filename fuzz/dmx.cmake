# dmxout's patch file, and the command lines of dmxout and dmxin.
hall_add_fuzzer(dmx_patch_fuzz SOURCES dmx_patch_fuzz.cpp LIBS dmx_parse)
hall_add_fuzzer(dmx_options_fuzz SOURCES dmx_options_fuzz.cpp LIBS dmx_parse)
