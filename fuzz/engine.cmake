# The poll cycle of the port bridge engine, on an in-memory port and a scripted device library.
velk_add_fuzzer(poll_cycle ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_poll_cycle.cpp velk_engine)
