# The renderer: arbitrary bytes through the ESC/POS and TSPL interpreters
# and the envelope reader.
if(TARGET tessiva_render)
  tessiva_fuzzer(fuzz_render ${CMAKE_CURRENT_LIST_DIR}/fuzz_render.cpp)
  target_link_libraries(fuzz_render PRIVATE tessiva_render)
  set_target_properties(fuzz_render PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endif()
