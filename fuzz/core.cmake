# The protocol core fed arbitrary broker bytes with plain calls (no threads).
tessiva_fuzzer(fuzz_core fuzz_core.cpp)
target_link_libraries(fuzz_core PRIVATE nelo_mqtt_core)
set_target_properties(fuzz_core PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
