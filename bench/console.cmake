# The console flood benchmark's peer: writes paced lines of JSON for
# mosquitto_pub -l (bench/console_flood.sh).
add_executable(console_flood_peer ${CMAKE_CURRENT_LIST_DIR}/console_flood_peer.cpp)
tessiva_warnings(console_flood_peer)

# The console with its benchmark probe (the shipped console has none).
if(TARGET tessiva_console)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(tessiva-console-bench ${CMAKE_CURRENT_LIST_DIR}/console_bench_main.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/console_bench_probe.cpp)
  target_include_directories(tessiva-console-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(tessiva-console-bench PRIVATE tessiva_console)
  set_target_properties(tessiva-console-bench PROPERTIES AUTOMOC ON AUTOUIC OFF)
  tessiva_warnings(tessiva-console-bench)
endif()

# The display's per-entry cost (PutMessage at its cap, FormatJson), offscreen.
if(TARGET tessiva_console)
  add_executable(console_display_bench ${CMAKE_CURRENT_LIST_DIR}/console_display_bench.cpp)
  target_link_libraries(console_display_bench PRIVATE tessiva_console benchmark::benchmark)
  tessiva_warnings(console_display_bench)
endif()
