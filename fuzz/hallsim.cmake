# The simulator's parsers of outside input: texture files and the command
# line.
hall_add_fuzzer(hallsim_loadbmp SOURCES hallsim_loadbmp.cpp LIBS hallsim_backend)
hall_add_fuzzer(hallsim_cmdline SOURCES hallsim_cmdline.cpp LIBS hallsim_options)
