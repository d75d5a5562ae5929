# The answer and trigger stream of the LAN control library, from a peer on 127.0.0.1.
velk_add_fuzzer(lan_stream ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_lan_stream.cpp lancontrol_objects)
