# boxemu's command line, with the option parser built into the target so
# that libFuzzer sees its coverage.
hall_add_fuzzer(boxemu_options_fuzz
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/boxemu_options_fuzz.cpp
                        ${CMAKE_SOURCE_DIR}/boxemu/emu_options.cpp
                        ${CMAKE_SOURCE_DIR}/cli/cli.cpp
                LIBS boxline)
