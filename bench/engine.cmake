# Helper of bench/engine_vs_mosquitto.sh: timestamps for the latency figure.
add_executable(engine_latency_probe ${CMAKE_CURRENT_LIST_DIR}/engine_latency_probe.cpp)
tessiva_warnings(engine_latency_probe)
