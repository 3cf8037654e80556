# The boxes' serial line decoder (what boxemu reads off the line). Its
# sources are built into the target, so that libFuzzer sees their coverage.
hall_add_fuzzer(boxline_decode_fuzz
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/boxline_decode_fuzz.cpp
                        ${CMAKE_SOURCE_DIR}/boxline/decode.cpp
                        ${CMAKE_SOURCE_DIR}/boxline/line.cpp
                        ${CMAKE_SOURCE_DIR}/boxline/scale_table.cpp)
