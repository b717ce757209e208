// Scaled masks drawn onto the page as byte spans: the same dots, clipping
// and growth as drawing each scaled dot on its own.
#include <gtest/gtest.h>

#include <random>

#include "RenderPage.h"

namespace {

// Each scaled dot through SetDot: what DrawMask must equal.
void DrawDotByDot(TRenderPage& APage, int AX, int AY, const std::vector<uint8_t>& AMask, int AW, int AH,
                  int ASX, int ASY, TDotMode AMode) {
  for (int y = 0; y < AH; ++y)
    for (int x = 0; x < AW; ++x) {
      if (!AMask[static_cast<size_t>(y) * AW + x]) continue;
      for (int sy = 0; sy < ASY; ++sy)
        for (int sx = 0; sx < ASX; ++sx) APage.SetDot(AX + x * ASX + sx, AY + y * ASY + sy, true, AMode);
    }
}

TEST(PageDrawing, ScaledMasksMatchDotByDotDrawing) {
  std::mt19937 rng(17);
  const TDotMode modes[] = {dmSet, dmXor, dmClear};
  for (int round = 0; round < 300; ++round) {
    const int w = 1 + static_cast<int>(rng() % 20), h = 1 + static_cast<int>(rng() % 20);
    std::vector<uint8_t> mask(static_cast<size_t>(w) * h);
    for (uint8_t& d : mask) d = (rng() % 3) != 0;
    const int sx = 1 + static_cast<int>(rng() % 8), sy = 1 + static_cast<int>(rng() % 8);
    const int x = static_cast<int>(rng() % 120) - 30, y = static_cast<int>(rng() % 120) - 30;
    const TDotMode mode = modes[rng() % 3];
    const bool fixed = rng() % 2;
    // Pages with something on them already, of a width that is no whole
    // number of bytes, growing up to a limit (or fixed).
    TRenderPage a(83, 40, 90), b(83, 40, 90);
    a.SetFixed(fixed);
    b.SetFixed(fixed);
    a.FillRect(10, 5, 50, 20);
    b.FillRect(10, 5, 50, 20);
    a.DrawMask(x, y, mask.data(), w, h, sx, sy, mode);
    DrawDotByDot(b, x, y, mask, w, h, sx, sy, mode);
    const std::string where = "round " + std::to_string(round);
    ASSERT_EQ(a.Height(), b.Height()) << where;
    EXPECT_EQ(a.Bits(), b.Bits()) << where;
    EXPECT_EQ(a.Clipped(), b.Clipped()) << where;
    EXPECT_EQ(a.HeightLimitHit(), b.HeightLimitHit()) << where;
  }
}

}  // namespace
