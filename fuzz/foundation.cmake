# The light server's drain, the feed client's read, the tools' command lines.
hall_add_fuzzer(fuzz_netserver_drain SOURCES fuzz_netserver_drain.cpp LIBS netserver)
hall_add_fuzzer(fuzz_read_data_packet SOURCES fuzz_read_data_packet.cpp LIBS wire)
hall_add_fuzzer(fuzz_tool_options SOURCES fuzz_tool_options.cpp LIBS testfeed_core
                hallview_options)
