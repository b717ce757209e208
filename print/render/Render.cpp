#include "Render.h"

#include <cstring>

#include "EscPosInterpreter.h"
#include "JobReader.h"
#include "TsplInterpreter.h"

bool TRenderResult::HasErrors() const {
  for (const TFinding& f : Findings)
    if (f.Severity == fsError) return true;
  return false;
}

const char* LanguageName(TRenderLanguage ALanguage) {
  switch (ALanguage) {
    case rlEscPos:
      return "ESC/POS";
    case rlTspl:
      return "TSPL";
    default:
      return "auto";
  }
}

const TPrinterProfile& TRenderOptions::PrinterProfile() const {
  const TPrinterProfile* p = FindPrinterProfile(Profile);
  return p ? *p : DefaultPrinterProfile();
}

TRenderOptions TRenderOptions::Resolved() const {
  TRenderOptions o = *this;
  const TPrinterProfile& p = PrinterProfile();
  o.Profile = p.Name;
  if (o.Width <= 0) o.Width = p.Width;
  if (o.PrinterBufferBytes == 0) o.PrinterBufferBytes = p.RasterBufferBytes;
  return o;
}

bool TJobContext::ProfileDraws(TCodeFamily AFamily, size_t AOffset) {
  const TPrinterProfile& p = Options.PrinterProfile();
  if (p.HasCode(AFamily)) return true;
  Find(fsWarning, AOffset,
       std::string(CodeFamilyName(AFamily)) + " is not a code the " + p.Name +
           " printer draws: it prints nothing");
  return false;
}

void TJobContext::AddPage(TRenderedPage&& APage, size_t AOffset) {
  if (PagesOfJob >= Options.MaxPages) {
    if (PagesOfJob == Options.MaxPages)
      Find(fsWarning, AOffset,
           "more than " + std::to_string(Options.MaxPages) + " pages; the rest are not kept");
    ++PagesOfJob;
    return;
  }
  const size_t bytes = APage.Page.Bits().size();
  if (PageBytes + bytes > Options.MaxPageBytes) {
    if (PagesOfJob < Options.MaxPages)
      Find(fsWarning, AOffset,
           "the pages pass " + std::to_string(Options.MaxPageBytes) + " bytes; the rest are not kept");
    PagesOfJob = Options.MaxPages + 1;
    return;
  }
  PageBytes += bytes;
  ++PagesOfJob;
  Pages.push_back(std::move(APage));
}

uint8_t SwitchFrameAt(const uint8_t* AData, size_t ASize, uint8_t& AValue, bool& AChecksumOk) {
  if (ASize < 8 || AData[0] != 0x10 || (AData[1] != 0xA2 && AData[1] != 0xA6) || AData[2] != 0x01 ||
      AData[3] != 0x00 || AData[4] != 0x01 || AData[5] != 0x00)
    return 0;
  unsigned sum = 0;
  for (int i = 0; i < 7; ++i) sum += AData[i];
  AValue = AData[6];
  AChecksumOk = (sum & 0xFF) == AData[7];
  return AData[1];
}

TRenderLanguage ApplySwitchFrame(TJobContext& AContext, size_t AOffset) {
  uint8_t value = 0;
  bool sumOk = false;
  const uint8_t fn = SwitchFrameAt(AContext.Data + AOffset, AContext.Size - AOffset, value, sumOk);
  const bool printMode = fn == 0xA2;
  const char* name = printMode ? "MODE" : "CHARSET";
  if (!sumOk) {
    AContext.Add(AOffset, 8, name, "bad checksum (ignored)");
    AContext.Find(fsWarning, AOffset,
                  std::string(name) + " frame has a wrong checksum; a printer ignores it");
    return rlAuto;
  }
  if (value > 1) {
    AContext.Add(AOffset, 8, name, "value " + std::to_string(value) + " (ignored)");
    AContext.Find(fsWarning, AOffset,
                  std::string(name) + " frame value " + std::to_string(value) + " is not 0 or 1");
    return rlAuto;
  }
  if (printMode) {
    AContext.Add(AOffset, 8, name, value ? "label mode (TSPL follows)" : "receipt mode (ESC/POS follows)");
    return value ? rlTspl : rlEscPos;
  }
  AContext.Charset = value ? csUtf8 : csGbk;
  AContext.Add(AOffset, 8, name, value ? "UTF-8 characters" : "GBK characters");
  return rlAuto;
}

TRenderLanguage DetectLanguage(const uint8_t* AData, size_t ASize) {
  static const char* const kWords[] = {
      "SIZE",      "GAP",      "CLS",   "TEXT",      "BITMAP",         "BARCODE", "QRCODE",
      "BOX",       "BAR",      "PRINT", "DIRECTION", "REFERENCE",      "OFFSET",  "SHIFT",
      "DENSITY",   "SPEED",    "SET",   "CODEPAGE",  "BLINE",          "ERASE",   "REVERSE",
      "CIRCLE",    "SOUND",    "CUT",   "BLOCK",     "HOME",           "KILL",    "DOWNLOAD",
      "LIMITFEED", "FORMFEED", "FEED",  "BACKFEED",  "INITIALPRINTER", "PUTBMP",  "DIAGONAL",
      "ELLIPSE",   "SELFTEST", "PUTPCX"};
  size_t i = 0;
  for (;;) {
    uint8_t value = 0;
    bool sumOk = false;
    const uint8_t fn = SwitchFrameAt(AData + i, ASize - i, value, sumOk);
    if (fn == 0xA2 && sumOk && value <= 1) return value ? rlTspl : rlEscPos;
    if (fn) {
      i += 8;
      continue;
    }
    if (i < ASize && (AData[i] == '\r' || AData[i] == '\n' || AData[i] == ' ' || AData[i] == '\t')) {
      ++i;
      continue;
    }
    break;
  }
  size_t end = i;
  while (end < ASize &&
         ((AData[end] >= 'A' && AData[end] <= 'Z') || (AData[end] >= 'a' && AData[end] <= 'z')))
    ++end;
  if (end == i || end - i > 16) return rlEscPos;
  if (end < ASize && AData[end] != ' ' && AData[end] != '\r' && AData[end] != '\n' && AData[end] != '\t')
    return rlEscPos;
  char word[20] = {};
  for (size_t k = i; k < end; ++k) word[k - i] = static_cast<char>(AData[k] & ~0x20);
  for (const char* w : kWords)
    if (std::strcmp(word, w) == 0) return rlTspl;
  return rlEscPos;
}

namespace {

void RenderJob(const uint8_t* AData, size_t ASize, int AJob, const TRenderOptions& AOptions,
               TRenderResult& AResult, TLint& ALint) {
  TListing listing;
  TJobContext context{AOptions, AJob, AData, ASize, listing, ALint, AResult.Pages};
  TRenderLanguage lang = AOptions.Language == rlAuto ? DetectLanguage(AData, ASize) : AOptions.Language;
  AResult.JobLanguages.push_back(lang);
  size_t at = 0;
  bool printed = false;
  while (at < ASize || (!printed && lang == rlTspl)) {
    TRenderLanguage next = rlAuto;
    if (lang == rlTspl) {
      at = RunTspl(context, at, next);
      printed = true;
    } else {
      at = RunEscPos(context, at, next);
    }
    if (next == rlAuto) break;
    lang = next;
  }
  AResult.Listing.insert(AResult.Listing.end(), std::make_move_iterator(listing.Lines().begin()),
                         std::make_move_iterator(listing.Lines().end()));
}

void CheckProfile(const TRenderOptions& AOptions, TLint& ALint) {
  if (!FindPrinterProfile(AOptions.Profile))
    ALint.Add(fsWarning, -1, 0,
              "unknown printer profile \"" + AOptions.Profile + "\" (" + PrinterProfileNames() + "); " +
                  DefaultPrinterProfile().Name + " is drawn");
}

}  // namespace

TRenderResult RenderCommandBytes(const uint8_t* AData, size_t ASize, const TRenderOptions& AOptions) {
  TRenderResult result;
  TLint lint;
  CheckProfile(AOptions, lint);
  const TRenderOptions options = AOptions.Resolved();
  RenderJob(AData, ASize, 0, options, result, lint);
  result.Findings = std::move(lint.Findings());
  return result;
}

TRenderResult RenderCommandBytes(const std::vector<uint8_t>& ABytes, const TRenderOptions& AOptions) {
  return RenderCommandBytes(ABytes.data(), ABytes.size(), AOptions);
}

TRenderResult RenderEnvelope(const std::string& AText, const TRenderOptions& AOptions) {
  TRenderResult result;
  TLint lint;
  CheckProfile(AOptions, lint);
  const TRenderOptions options = AOptions.Resolved();
  const std::vector<TJobBytes> jobs = ReadEnvelopeJobs(AText, options.MaxMessageBytes, lint);
  for (size_t k = 0; k < jobs.size(); ++k) {
    if (!jobs[k].Ok) {
      result.JobLanguages.push_back(rlAuto);
      continue;
    }
    RenderJob(jobs[k].Bytes.data(), jobs[k].Bytes.size(), static_cast<int>(k), options, result, lint);
  }
  result.Findings = std::move(lint.Findings());
  return result;
}

TRenderResult RenderPrintJob(const std::string& AText, const TRenderOptions& AOptions) {
  const auto* data = reinterpret_cast<const uint8_t*>(AText.data());
  return LooksLikeEnvelope(data, AText.size()) ? RenderEnvelope(AText, AOptions)
                                               : RenderCommandBytes(data, AText.size(), AOptions);
}
