# Feeds arbitrary frames (first byte + remaining bytes) to the packet factory.
tessiva_fuzzer(fuzz_packet_factory fuzz_packet_factory.cpp)
target_link_libraries(fuzz_packet_factory PRIVATE nelo_mqtt_codec)
set_target_properties(fuzz_packet_factory PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)

# Feeds an arbitrary byte stream, in pieces, to the frame cutter.
tessiva_fuzzer(fuzz_frame_cutter fuzz_frame_cutter.cpp)
target_link_libraries(fuzz_frame_cutter PRIVATE nelo_mqtt_codec)
set_target_properties(fuzz_frame_cutter PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
