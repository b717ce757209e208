# A whole connected client (its real threads) fed arbitrary broker bytes
# through the transport in memory.
tessiva_fuzzer(fuzz_connected_client fuzz_connected_client.cpp)
target_link_libraries(fuzz_connected_client PRIVATE nelo_mqtt_engine)
set_target_properties(fuzz_connected_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
