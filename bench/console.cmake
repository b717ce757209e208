# The console flood benchmark's peer: writes paced lines of JSON for
# mosquitto_pub -l (bench/console_flood.sh).
add_executable(console_flood_peer ${CMAKE_CURRENT_LIST_DIR}/console_flood_peer.cpp)
tessiva_warnings(console_flood_peer)

# The display's per-entry cost (PutMessage at its cap, FormatJson), offscreen.
if(TARGET tessiva_console)
  add_executable(console_display_bench ${CMAKE_CURRENT_LIST_DIR}/console_display_bench.cpp)
  target_link_libraries(console_display_bench PRIVATE tessiva_console benchmark::benchmark)
  tessiva_warnings(console_display_bench)
endif()
