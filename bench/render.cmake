# Renderer: the sample receipt, the sample label and a 576 x 3000 raster job
# (render, render + PNG), against ImageMagick converting the same page from
# PBM to PNG in the same run.
if(TARGET tessiva_render)
  add_executable(render_bench render_bench.cpp)
  target_link_libraries(render_bench PRIVATE tessiva_render benchmark::benchmark)
  tessiva_warnings(render_bench)
endif()
