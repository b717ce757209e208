#include "RenderTestSupport.h"

#include <png.h>

#include <cstdio>
#include <stdexcept>

#include "ChildProcess.h"

std::vector<uint8_t> Bytes(const std::string& AText) {
  return std::vector<uint8_t>(AText.begin(), AText.end());
}

TBox InkBox(const TRenderPage& APage, int AX, int AY, int AW, int AH) {
  if (AW < 0) AW = APage.Width() - AX;
  if (AH < 0) AH = APage.Height() - AY;
  TBox b{1 << 30, 1 << 30, -1, -1};
  for (int y = AY; y < AY + AH && y < APage.Height(); ++y)
    for (int x = AX; x < AX + AW && x < APage.Width(); ++x)
      if (APage.Dot(x, y)) {
        b.X0 = std::min(b.X0, x);
        b.Y0 = std::min(b.Y0, y);
        b.X1 = std::max(b.X1, x + 1);
        b.Y1 = std::max(b.Y1, y + 1);
      }
  if (b.X1 < 0) return TBox{};
  return b;
}

TPngDots ReadPngDots(const std::string& AFileName) {
  FILE* f = std::fopen(AFileName.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + AFileName);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  TPngDots out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    throw std::runtime_error("not a PNG: " + AFileName);
  }
  png_init_io(png, f);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_rgb_to_gray(png, 1, -1, -1);
  png_set_strip_alpha(png);
  png_read_update_info(png, info);
  out.Width = static_cast<int>(png_get_image_width(png, info));
  out.Height = static_cast<int>(png_get_image_height(png, info));
  std::vector<uint8_t> row(png_get_rowbytes(png, info));
  out.Dots.resize(static_cast<size_t>(out.Width) * out.Height);
  for (int y = 0; y < out.Height; ++y) {
    png_read_row(png, row.data(), nullptr);
    for (int x = 0; x < out.Width; ++x)
      out.Dots[static_cast<size_t>(y) * out.Width + x] = row[x] < 128 ? 1 : 0;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return out;
}

bool HaveZbar() { return !tessiva::test::FindProgram("zbarimg").empty(); }

std::string DecodeWithZbar(const std::string& APngFile) {
  const tessiva::test::TRunResult r =
      tessiva::test::RunProcess({"zbarimg", "-q", "--raw", "-Sbinary", "-Sean13.enable", "-Supca.enable",
                                 "-Supce.enable", "-Sean8.enable", "-Scodabar.enable", "-Si25.enable",
                                 "-Scode39.enable", "-Scode93.enable", "-Scode128.enable", APngFile});
  std::string s = r.Stdout;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

TRenderResult RenderRaw(const std::vector<uint8_t>& ABytes, TRenderLanguage ALanguage, int AWidth) {
  TRenderOptions o;
  o.Language = ALanguage;
  o.Width = AWidth;
  return RenderCommandBytes(ABytes, o);
}

bool HasFinding(const TRenderResult& AResult, const std::string& ANeedle, TFindingSeverity* ASeverity) {
  for (const TFinding& f : AResult.Findings)
    if (f.Text.find(ANeedle) != std::string::npos) {
      if (ASeverity) *ASeverity = f.Severity;
      return true;
    }
  return false;
}
