# The device file of the simulated gauge library and its operator commands.
velk_add_fuzzer(ddk_reader ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_ddk_reader.cpp velk_simddk_core)
