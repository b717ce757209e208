# The picture decoders behind the image dialog (JPEG and PNG, truncated and
# mutated files) through scaling and dithering.
if(TARGET tessiva_print)
  tessiva_fuzzer(fuzz_picture_decoders ${CMAKE_CURRENT_LIST_DIR}/fuzz_picture_decoders.cpp)
  target_link_libraries(fuzz_picture_decoders PRIVATE tessiva_print)
  set_target_properties(fuzz_picture_decoders PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endif()
