# The telnet COM port layer of network ports, over arbitrary client bytes.
velk_add_fuzzer(telnet_com_port ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_telnet_com_port.cpp velk_network_protocol)
# The TLS handshake of network ports, over arbitrary peer records.
find_package(OpenSSL 3 REQUIRED)
velk_add_fuzzer(tls_handshake ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_tls_handshake.cpp velk_network OpenSSL::SSL OpenSSL::Crypto)
