#include "PictureDecoder.h"

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>

#include "PrintTask.h"

namespace {

// Upper bound for what libjpeg may allocate for one picture (a progressive
// photo keeps all its coefficients) and for the rows an interlaced PNG keeps.
constexpr size_t kMaxDecoderMemory = size_t{512} << 20;
// A progressive file with more scans than this is rejected rather than decoded
// for minutes.
constexpr int kMaxJpegScans = 1000;

// Writes PictureTooLargeMessage into a plain buffer, for the functions
// below that may be left by longjmp.
void FormatTooLarge(char* AOut, size_t ASize, uint64_t AWidth, uint64_t AHeight, uint64_t ALimit) {
  std::snprintf(AOut, ASize, "%s", PictureTooLargeMessage(AWidth, AHeight, ALimit).c_str());
}

//---------------------------------------------------------------- JPEG

struct TJpegError {
  jpeg_error_mgr Mgr;
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

struct TJpegProgress {
  jpeg_progress_mgr Mgr;
};

extern "C" void JpegErrorExit(j_common_ptr ACinfo) {
  TJpegError* err = reinterpret_cast<TJpegError*>(ACinfo->err);
  (*ACinfo->err->format_message)(ACinfo, err->Message);
  longjmp(err->Jump, 1);
}

extern "C" void JpegEmitMessage(j_common_ptr ACinfo, int ALevel) {
  // Corrupt-data warnings are tolerated (many cameras write a few stray
  // bytes), but a file that ends before its last scan is an error: libjpeg
  // would fill the missing part with grey.
  if (ALevel == -1 && ACinfo->err->msg_code == JWRN_JPEG_EOF) JpegErrorExit(ACinfo);
}

extern "C" void JpegProgress(j_common_ptr ACinfo) {
  if (ACinfo->is_decompressor) {
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(ACinfo);
    if (d->input_scan_number > kMaxJpegScans) {
      TJpegError* err = reinterpret_cast<TJpegError*>(ACinfo->err);
      std::snprintf(err->Message, sizeof err->Message, "JPEG file has more than %d scans", kMaxJpegScans);
      longjmp(err->Jump, 1);
    }
  }
}

// The libjpeg calls live in these small functions with nothing but plain
// data in their frames, so the longjmp of the error handler skips no
// destructor.
struct TJpegState {
  jpeg_decompress_struct Cinfo;
  TJpegError Err;
  TJpegProgress Progress;
  bool Created = false;
  ~TJpegState() {
    if (Created) jpeg_destroy_decompress(&Cinfo);
  }
};

bool JpegStart(TJpegState* S, const TPictureInput* AInput) {
  if (setjmp(S->Err.Jump)) return false;
  jpeg_create_decompress(&S->Cinfo);
  S->Created = true;
  S->Cinfo.mem->max_memory_to_use = static_cast<long>(kMaxDecoderMemory);
  S->Cinfo.progress = &S->Progress.Mgr;
  if (AInput->File)
    jpeg_stdio_src(&S->Cinfo, AInput->File);
  else
    jpeg_mem_src(&S->Cinfo, AInput->Data, static_cast<unsigned long>(AInput->Size));
  jpeg_read_header(&S->Cinfo, TRUE);
  if (AInput->MaxPixels != 0 &&
      static_cast<uint64_t>(S->Cinfo.image_width) * S->Cinfo.image_height > AInput->MaxPixels) {
    FormatTooLarge(S->Err.Message, sizeof S->Err.Message, S->Cinfo.image_width, S->Cinfo.image_height,
                   AInput->MaxPixels);
    return false;
  }
  if (AInput->MinScaledWidth > 0) {
    // The DCT scales by num/8; the smallest num that keeps the width.
    const uint64_t need = uint64_t{8} * static_cast<uint64_t>(AInput->MinScaledWidth);
    for (unsigned num = 1; num < 8; ++num) {
      if (uint64_t{num} * S->Cinfo.image_width >= need) {
        S->Cinfo.scale_num = num;
        S->Cinfo.scale_denom = 8;
        break;
      }
    }
  }
  if (S->Cinfo.jpeg_color_space == JCS_CMYK || S->Cinfo.jpeg_color_space == JCS_YCCK)
    S->Cinfo.out_color_space = JCS_CMYK;
  else
    S->Cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&S->Cinfo);
  return true;
}

bool JpegReadRow(TJpegState* S, JSAMPROW ARow) {
  if (setjmp(S->Err.Jump)) return false;
  if (jpeg_read_scanlines(&S->Cinfo, &ARow, 1) == 1) return true;
  // Only a suspending source returns no line; stdio and memory never do.
  std::snprintf(S->Err.Message, sizeof S->Err.Message, "Could not read JPEG scan line");
  return false;
}

bool JpegFinish(TJpegState* S) {
  if (setjmp(S->Err.Jump)) return false;
  jpeg_abort_decompress(&S->Cinfo);
  return true;
}

class TJpegDecoder : public TPictureDecoder {
 public:
  explicit TJpegDecoder(const TPictureInput& AInput) : FState(new TJpegState) {
    std::memset(&FState->Cinfo, 0, sizeof FState->Cinfo);
    std::memset(&FState->Err, 0, sizeof FState->Err);
    std::memset(&FState->Progress, 0, sizeof FState->Progress);
    FState->Cinfo.err = jpeg_std_error(&FState->Err.Mgr);
    FState->Err.Mgr.error_exit = JpegErrorExit;
    FState->Err.Mgr.emit_message = JpegEmitMessage;
    FState->Progress.Mgr.progress_monitor = JpegProgress;
    if (!JpegStart(FState.get(), &AInput)) Fail();
    FWidth = static_cast<int>(FState->Cinfo.output_width);
    FHeight = static_cast<int>(FState->Cinfo.output_height);
    FSourceWidth = static_cast<int>(FState->Cinfo.image_width);
    FSourceHeight = static_cast<int>(FState->Cinfo.image_height);
    FComponents = FState->Cinfo.output_components;
    if ((FComponents != 3 && FComponents != 4) || FWidth <= 0 || FHeight <= 0) {
      std::snprintf(FState->Err.Message, sizeof FState->Err.Message, "Unsupported JPEG colour format");
      Fail();
    }
  }

  void DecodeRows(const std::vector<bool>& ANeeded, const TRowSink& ASink) override {
    std::vector<uint8_t> raw(static_cast<size_t>(FWidth) * static_cast<size_t>(FComponents));
    std::vector<uint8_t> rgb(FComponents == 4 ? static_cast<size_t>(FWidth) * 3 : 0);
    const bool inverted = FState->Cinfo.saw_Adobe_marker;
    for (int y = 0; y < FHeight; ++y) {
      if (!JpegReadRow(FState.get(), raw.data())) Fail();
      Progress(y + 1, FHeight);
      if (!ANeeded[static_cast<size_t>(y)]) continue;
      if (FComponents == 3) {
        ASink(y, raw.data());
        continue;
      }
      // CMYK: Adobe writers store the inks inverted (255 = no ink).
      for (int x = 0; x < FWidth; ++x) {
        const uint8_t* p = &raw[static_cast<size_t>(x) * 4];
        const unsigned k = inverted ? p[3] : 255u - p[3];
        for (int c = 0; c < 3; ++c) {
          const unsigned v = inverted ? p[c] : 255u - p[c];
          rgb[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] =
              static_cast<uint8_t>((v * k + 127) / 255);
        }
      }
      ASink(y, rgb.data());
    }
    if (!JpegFinish(FState.get())) Fail();
  }

 private:
  [[noreturn]] void Fail() { throw EPrintError(FState->Err.Message); }

  std::unique_ptr<TJpegState> FState;
  int FComponents = 0;
};

//---------------------------------------------------------------- PNG

struct TPngState {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  jmp_buf Jump;
  char Message[256];
  const TPictureInput* Input = nullptr;
  size_t Position = 0;
  ~TPngState() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

extern "C" void PngError(png_structp APng, png_const_charp AMessage) {
  TPngState* s = static_cast<TPngState*>(png_get_error_ptr(APng));
  std::snprintf(s->Message, sizeof s->Message, "%s", AMessage ? AMessage : "PNG error");
  longjmp(s->Jump, 1);
}

extern "C" void PngWarning(png_structp, png_const_charp) {}

extern "C" void PngReadMemory(png_structp APng, png_bytep AOut, size_t ACount) {
  TPngState* s = static_cast<TPngState*>(png_get_io_ptr(APng));
  if (s->Input->Size - s->Position < ACount) png_error(APng, "Read Error");
  std::memcpy(AOut, s->Input->Data + s->Position, ACount);
  s->Position += ACount;
}

// Returns the number of interlace passes, 0 on error.
int PngStart(TPngState* S) {
  if (setjmp(S->Jump)) return 0;
  if (S->Input->File)
    png_init_io(S->Png, S->Input->File);
  else
    png_set_read_fn(S->Png, S, PngReadMemory);
  png_read_info(S->Png, S->Info);
  const uint64_t width = png_get_image_width(S->Png, S->Info);
  const uint64_t height = png_get_image_height(S->Png, S->Info);
  if (S->Input->MaxPixels != 0 && width * height > S->Input->MaxPixels) {
    char message[sizeof S->Message];
    FormatTooLarge(message, sizeof message, width, height, S->Input->MaxPixels);
    png_error(S->Png, message);
  }
  const png_byte colour = png_get_color_type(S->Png, S->Info);
  const png_byte depth = png_get_bit_depth(S->Png, S->Info);
  // Palette, grey below 8 bits and tRNS become 8-bit RGB(A); 16-bit
  // channels are scaled to 8; everything ends as RGBA.
  png_set_expand(S->Png);
  if (depth == 16) png_set_scale_16(S->Png);
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(S->Png);
  if (!(colour & PNG_COLOR_MASK_ALPHA) && !png_get_valid(S->Png, S->Info, PNG_INFO_tRNS))
    png_set_filler(S->Png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(S->Png);
  png_read_update_info(S->Png, S->Info);
  if (png_get_channels(S->Png, S->Info) != 4 || png_get_bit_depth(S->Png, S->Info) != 8)
    png_error(S->Png, "Unsupported PNG pixel format");
  return passes;
}

bool PngReadRow(TPngState* S, png_bytep ARow) {
  if (setjmp(S->Jump)) return false;
  png_read_row(S->Png, ARow, nullptr);
  return true;
}

void CompositeOverWhite(const uint8_t* ARgba, uint8_t* ARgb, int AWidth) {
  for (int x = 0; x < AWidth; ++x, ARgba += 4, ARgb += 3) {
    const unsigned a = ARgba[3];
    for (int c = 0; c < 3; ++c)
      ARgb[c] = static_cast<uint8_t>((ARgba[c] * a + 255u * (255u - a) + 127u) / 255u);
  }
}

class TPngDecoder : public TPictureDecoder {
 public:
  explicit TPngDecoder(const TPictureInput& AInput) : FState(new TPngState) {
    std::memset(FState->Message, 0, sizeof FState->Message);
    FInput = AInput;
    FState->Input = &FInput;
    FState->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, FState.get(), PngError, PngWarning);
    if (!FState->Png) throw EPrintError("Out of memory");
    FState->Info = png_create_info_struct(FState->Png);
    if (!FState->Info) throw EPrintError("Out of memory");
    FPasses = PngStart(FState.get());
    if (FPasses == 0) Fail();
    FWidth = static_cast<int>(png_get_image_width(FState->Png, FState->Info));
    FHeight = static_cast<int>(png_get_image_height(FState->Png, FState->Info));
    if (FWidth <= 0 || FHeight <= 0) throw EPrintError("Invalid PNG image size");
    FSourceWidth = FWidth;
    FSourceHeight = FHeight;
  }

  void DecodeRows(const std::vector<bool>& ANeeded, const TRowSink& ASink) override {
    const size_t rowBytes = static_cast<size_t>(FWidth) * 4;
    std::vector<uint8_t> rgb(static_cast<size_t>(FWidth) * 3);
    if (FPasses == 1) {
      std::vector<uint8_t> row(rowBytes);
      for (int y = 0; y < FHeight; ++y) {
        if (!PngReadRow(FState.get(), row.data())) Fail();
        Progress(y + 1, FHeight);
        if (!ANeeded[static_cast<size_t>(y)]) continue;
        CompositeOverWhite(row.data(), rgb.data(), FWidth);
        ASink(y, rgb.data());
      }
      return;
    }
    // Interlaced: every pass touches every row, so the needed rows are kept
    // (and only those) until the last pass has filled them in.
    size_t neededCount = 0;
    for (bool n : ANeeded) neededCount += n ? 1 : 0;
    if (neededCount > kMaxDecoderMemory / rowBytes) throw EPrintError("Interlaced PNG picture too large");
    std::vector<uint8_t> kept(neededCount * rowBytes);
    std::vector<uint8_t> scratch(rowBytes);
    const long long total = static_cast<long long>(FPasses) * FHeight;
    for (int pass = 0; pass < FPasses; ++pass) {
      size_t slot = 0;
      for (int y = 0; y < FHeight; ++y) {
        uint8_t* target = scratch.data();
        if (ANeeded[static_cast<size_t>(y)]) target = &kept[rowBytes * slot++];
        if (!PngReadRow(FState.get(), target)) Fail();
        Progress(static_cast<long long>(pass) * FHeight + y + 1, total);
      }
    }
    size_t slot = 0;
    for (int y = 0; y < FHeight; ++y) {
      if (!ANeeded[static_cast<size_t>(y)]) continue;
      CompositeOverWhite(&kept[rowBytes * slot++], rgb.data(), FWidth);
      ASink(y, rgb.data());
    }
  }

 private:
  [[noreturn]] void Fail() { throw EPrintError(FState->Message); }

  std::unique_ptr<TPngState> FState;
  TPictureInput FInput;
  int FPasses = 1;
};

}  // namespace

void TPictureDecoder::Progress(long long ADone, long long ATotal) const {
  if (FProgress && !FProgress(ADone, ATotal)) throw EPrintCancelled("Cancelled");
}

std::string PictureTooLargeMessage(uint64_t AWidth, uint64_t AHeight, uint64_t ALimit) {
  return "Picture too large: " + std::to_string(AWidth) + " x " + std::to_string(AHeight) +
         " pixels (the limit is " + std::to_string(ALimit) + " pixels)";
}

std::unique_ptr<TPictureDecoder> OpenPictureDecoder(TPictureFormat AFormat, const TPictureInput& AInput) {
  if (AFormat == pfJpeg) return std::make_unique<TJpegDecoder>(AInput);
  return std::make_unique<TPngDecoder>(AInput);
}
