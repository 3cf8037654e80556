# The boxes' serial line decoder (what boxemu reads off the line).
hall_add_fuzzer(boxline_decode_fuzz SOURCES boxline_decode_fuzz.cpp LIBS boxline)
