# Protocol core: received QoS 1 publishes through the core with plain calls,
# against the seed's threaded client over the in-memory transport.
add_executable(core_bench ${CMAKE_CURRENT_LIST_DIR}/core_bench.cpp)
target_link_libraries(core_bench PRIVATE nelo_mqtt_core nelo_mqtt_engine benchmark::benchmark)
tessiva_warnings(core_bench)
