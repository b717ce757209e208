// Feeds arbitrary bytes to the renderer: both interpreters and the
// envelope reader. The first byte picks the language, the paper width and
// whether the rest is an envelope. Findings are expected; crashes, leaks,
// reads past the input and unbounded memory are not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 1) return 0;
  TRenderOptions o;
  const uint8_t pick = AData[0];
  o.Language = (pick & 3) == 1 ? rlEscPos : (pick & 3) == 2 ? rlTspl : rlAuto;
  o.Width = (pick & 4) ? 384 : 576;
  // Small bounds keep each run quick.
  o.MaxPageHeight = 3000;
  o.MaxPages = 4;
  o.MaxLabelDots = 1600;
  o.MaxPageBytes = size_t{4} << 20;
  // The same bound over every entry of an envelope together.
  o.MaxJobDotBytes = o.MaxPageBytes;
  const TRenderResult r =
      (pick & 8) ? RenderEnvelope(std::string(reinterpret_cast<const char*>(AData) + 1, ASize - 1), o)
                 : RenderCommandBytes(AData + 1, ASize - 1, o);
  size_t bytes = 0;
  for (const TRenderedPage& p : r.Pages) {
    if (p.Page.Height() > o.MaxPageHeight && p.Language == rlEscPos) __builtin_trap();
    if (p.Page.Width() > 4000 || p.Page.Height() > 4000) __builtin_trap();
    bytes += p.Page.Bits().size();
  }
  if (bytes > o.MaxPageBytes) __builtin_trap();
  for (const TListingLine& l : r.Listing)
    if (!(pick & 8) && l.Offset + l.Length > ASize - 1) __builtin_trap();
  // The first page through the PNG writer too, now and then.
  if ((pick & 16) && !r.Pages.empty()) (void)PageToPng(r.Pages[0].Page);
  return 0;
}
