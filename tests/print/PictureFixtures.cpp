#include "PictureFixtures.h"

#include <jpeglib.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

TRgbaPicture::TRgbaPicture(int AWidth, int AHeight, uint8_t AGrey)
    : Width(AWidth), Height(AHeight), Pixels(static_cast<size_t>(AWidth) * AHeight * 4, AGrey) {
  for (size_t i = 3; i < Pixels.size(); i += 4) Pixels[i] = 255;
}

void TRgbaPicture::Set(int AX, int AY, uint8_t AR, uint8_t AG, uint8_t AB, uint8_t AA) {
  uint8_t* p = At(AX, AY);
  p[0] = AR;
  p[1] = AG;
  p[2] = AB;
  p[3] = AA;
}

TRgbaPicture TestPattern(int AWidth, int AHeight) {
  TRgbaPicture pic(AWidth, AHeight);
  for (int y = 0; y < AHeight; ++y)
    for (int x = 0; x < AWidth; ++x) {
      const bool box = (x / 7 + y / 5) % 3 == 0;
      pic.Set(x, y, static_cast<uint8_t>(x * 255 / (AWidth > 1 ? AWidth - 1 : 1)),
              static_cast<uint8_t>(y * 255 / (AHeight > 1 ? AHeight - 1 : 1)), box ? 0 : 200);
    }
  return pic;
}

void WritePng(const std::string& AFileName, const TRgbaPicture& APicture, TPngKind AKind, bool AInterlaced) {
  FILE* f = std::fopen(AFileName.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + AFileName);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  // No error handler: libpng aborts on a write error, which fails the test.
  png_init_io(png, f);
  const int w = APicture.Width, h = APicture.Height;
  int colour = PNG_COLOR_TYPE_RGB, depth = 8, channels = 3;
  switch (AKind) {
    case pkRgb:
      break;
    case pkRgba:
      colour = PNG_COLOR_TYPE_RGB_ALPHA;
      channels = 4;
      break;
    case pkGrey:
      colour = PNG_COLOR_TYPE_GRAY;
      channels = 1;
      break;
    case pkGreyAlpha:
      colour = PNG_COLOR_TYPE_GRAY_ALPHA;
      channels = 2;
      break;
    case pkPalette:
      colour = PNG_COLOR_TYPE_PALETTE;
      channels = 1;
      break;
    case pkRgb16:
      depth = 16;
      channels = 3;
      break;
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, colour,
               AInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<uint8_t> data;
  if (AKind == pkPalette) {
    std::map<uint32_t, int> index;
    std::vector<png_color> palette;
    std::vector<png_byte> alpha;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = APicture.At(x, y);
        const uint32_t key = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        auto it = index.find(key);
        if (it == index.end()) {
          if (palette.size() == 256) throw std::runtime_error("too many colours for a palette");
          it = index.emplace(key, static_cast<int>(palette.size())).first;
          palette.push_back(png_color{p[0], p[1], p[2]});
          alpha.push_back(p[3]);
        }
        data.push_back(static_cast<uint8_t>(it->second));
      }
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
  } else {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = APicture.At(x, y);
        switch (AKind) {
          case pkRgb:
            data.insert(data.end(), {p[0], p[1], p[2]});
            break;
          case pkRgba:
            data.insert(data.end(), {p[0], p[1], p[2], p[3]});
            break;
          case pkGrey:
            data.push_back(p[0]);
            break;
          case pkGreyAlpha:
            data.insert(data.end(), {p[0], p[3]});
            break;
          case pkRgb16:
            for (int c = 0; c < 3; ++c) data.insert(data.end(), {p[c], p[c]});  // v * 257, big-endian
            break;
          case pkPalette:
            break;
        }
      }
  }
  png_write_info(png, info);
  const size_t rowBytes = static_cast<size_t>(w) * channels * (depth / 8);
  std::vector<png_bytep> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[static_cast<size_t>(y)] = data.data() + rowBytes * y;
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

void WriteJpeg(const std::string& AFileName, const TRgbaPicture& APicture, TJpegKind AKind) {
  FILE* f = std::fopen(AFileName.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + AFileName);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(APicture.Width);
  cinfo.image_height = static_cast<JDIMENSION>(APicture.Height);
  cinfo.input_components = AKind == jkGrey ? 1 : (AKind == jkCmykAdobe ? 4 : 3);
  cinfo.in_color_space = AKind == jkGrey ? JCS_GRAYSCALE : (AKind == jkCmykAdobe ? JCS_CMYK : JCS_RGB);
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  if (AKind == jkProgressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(APicture.Width) * 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    size_t n = 0;
    for (int x = 0; x < APicture.Width; ++x) {
      const uint8_t* p = APicture.At(x, y);
      if (AKind == jkGrey) {
        row[n++] = p[0];
      } else if (AKind == jkCmykAdobe) {
        // Adobe CMYK is stored inverted: 255 means no ink.
        row[n++] = 255;
        row[n++] = 255;
        row[n++] = 255;
        row[n++] = p[0];
      } else {
        row[n++] = p[0];
        row[n++] = p[1];
        row[n++] = p[2];
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

void WriteStripePng(const std::string& AFileName, int AWidth, int AHeight, int APeriod) {
  FILE* f = std::fopen(AFileName.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + AFileName);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(AWidth), static_cast<png_uint_32>(AHeight), 8,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 1);
  png_write_info(png, info);
  std::vector<uint8_t> row(static_cast<size_t>(AWidth));
  for (int x = 0; x < AWidth; ++x) row[static_cast<size_t>(x)] = x % APeriod == 0 ? 0 : 255;
  for (int y = 0; y < AHeight; ++y) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

namespace {

void PutBE32(std::vector<uint8_t>& AOut, uint32_t AValue) {
  for (int shift = 24; shift >= 0; shift -= 8) AOut.push_back(static_cast<uint8_t>(AValue >> shift));
}

void PutPngChunk(std::vector<uint8_t>& AOut, const char* AType, const std::vector<uint8_t>& AData) {
  PutBE32(AOut, static_cast<uint32_t>(AData.size()));
  const size_t typeAt = AOut.size();
  AOut.insert(AOut.end(), AType, AType + 4);
  AOut.insert(AOut.end(), AData.begin(), AData.end());
  const uLong crc = crc32(0, AOut.data() + typeAt, static_cast<uInt>(AOut.size() - typeAt));
  PutBE32(AOut, static_cast<uint32_t>(crc));
}

}  // namespace

void WriteOversizedPng(const std::string& AFileName, uint32_t AWidth, uint32_t AHeight) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBE32(ihdr, AWidth);
  PutBE32(ihdr, AHeight);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8-bit grey, no interlace
  PutPngChunk(out, "IHDR", ihdr);
  // A few rows of zeros, deflated.
  std::vector<uint8_t> raw(4096, 0), packed(compressBound(4096));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  PutPngChunk(out, "IDAT", packed);
  PutPngChunk(out, "IEND", {});
  WriteFileBytes(AFileName, out);
}

void WriteOversizedJpeg(const std::string& AFileName, uint16_t AWidth, uint16_t AHeight) {
  WriteJpeg(AFileName, TestPattern(16, 16), jkRgb);
  std::vector<uint8_t> bytes = ReadFileBytes(AFileName);
  for (size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      // FF C0, length (2), precision (1), height (2), width (2).
      bytes[i + 5] = static_cast<uint8_t>(AHeight >> 8);
      bytes[i + 6] = static_cast<uint8_t>(AHeight);
      bytes[i + 7] = static_cast<uint8_t>(AWidth >> 8);
      bytes[i + 8] = static_cast<uint8_t>(AWidth);
      WriteFileBytes(AFileName, bytes);
      return;
    }
  }
  throw std::runtime_error("no baseline frame header in " + AFileName);
}

std::vector<uint8_t> ReadFileBytes(const std::string& AFileName) {
  std::ifstream in(AFileName, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + AFileName);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& AFileName, const std::vector<uint8_t>& ABytes) {
  std::ofstream out(AFileName, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ABytes.data()), static_cast<std::streamsize>(ABytes.size()));
  if (!out) throw std::runtime_error("cannot write " + AFileName);
}

bool FileExists(const std::string& AFileName) { return std::filesystem::exists(AFileName); }

std::string RunCommand(const std::string& ACommand, int* AStatus) {
  FILE* p = popen(ACommand.c_str(), "r");
  if (!p) throw std::runtime_error("popen failed: " + ACommand);
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  if (AStatus) *AStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::vector<uint8_t> ImageMagickGreyPixels(const std::string& ABmpFile, int* AWidth, int* AHeight) {
  int status = 0;
  std::istringstream size(RunCommand("identify -format '%w %h' '" + ABmpFile + "'", &status));
  if (status != 0) throw std::runtime_error("identify failed on " + ABmpFile);
  size >> *AWidth >> *AHeight;
  const std::string raw = RunCommand("convert '" + ABmpFile + "' -colorspace Gray -depth 8 gray:-", &status);
  if (status != 0) throw std::runtime_error("convert failed on " + ABmpFile);
  return std::vector<uint8_t>(raw.begin(), raw.end());
}
