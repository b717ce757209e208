# Packet codec: serialising and decoding against plain memcpy of the same bytes.
add_executable(codec_bench codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE nelo_mqtt_codec benchmark::benchmark)
tessiva_warnings(codec_bench)
