# The telnet COM port layer of network ports, over arbitrary client bytes.
velk_add_fuzzer(telnet_com_port ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_telnet_com_port.cpp velk_network_protocol)
