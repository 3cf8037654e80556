# The game's paddle datagrams, the controllers' command lines and their
# input (joystick event records, key presses).
hall_add_fuzzer(fuzz_pong_paddle_datagram SOURCES fuzz_pong_paddle_datagram.cpp
                LIBS pong_game)
hall_add_fuzzer(fuzz_paddle_command_line SOURCES fuzz_paddle_command_line.cpp
                LIBS paddle_state)
hall_add_fuzzer(fuzz_paddle_input SOURCES fuzz_paddle_input.cpp LIBS paddle_state)
