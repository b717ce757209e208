#include "Render.h"

#include <cstring>

#include "EscPosInterpreter.h"
#include "JobReader.h"
#include "TaskEnvelope.h"
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

TRenderBudget::TRenderBudget(const TRenderOptions& AOptions)
    : FOptions(AOptions), FStart(std::chrono::steady_clock::now()) {}

void TRenderBudget::Stop(TLint& ALint, int AJob, size_t AOffset, std::string AText) {
  if (FExhausted) return;
  FExhausted = true;
  ALint.Add(fsWarning, AJob, AOffset, std::move(AText) + "; the rest of the job is not drawn here");
}

bool TRenderBudget::Tick(TLint& ALint, int AJob, size_t AOffset) {
  if (FExhausted) return true;
  if (FOptions.MaxJobMilliseconds <= 0 || (++FTicks & 63) != 0) return false;
  const auto spent = std::chrono::steady_clock::now() - FStart;
  if (spent < std::chrono::milliseconds(FOptions.MaxJobMilliseconds)) return false;
  Stop(ALint, AJob, AOffset,
       "drawing took more than the job's budget of " + std::to_string(FOptions.MaxJobMilliseconds) + " ms");
  return true;
}

bool TRenderBudget::TakePage(size_t ABytes, TLint& ALint, int AJob, size_t AOffset) {
  if (FExhausted) return false;
  if (FPages >= FOptions.MaxJobPages) {
    Stop(ALint, AJob, AOffset, "the job has more than " + std::to_string(FOptions.MaxJobPages) + " pages");
    return false;
  }
  if (FDotBytes + ABytes > FOptions.MaxJobDotBytes) {
    Stop(ALint, AJob, AOffset,
         "the job's pages pass " + std::to_string(FOptions.MaxJobDotBytes) + " bytes of dots");
    return false;
  }
  ++FPages;
  FDotBytes += ABytes;
  return true;
}

bool TRenderBudget::TakeListingLine() {
  if (FListingLines >= FOptions.MaxListingLines) {
    FListingFull = true;
    return false;
  }
  ++FListingLines;
  return true;
}

void TJobContext::AddPage(TRenderedPage&& APage, size_t AOffset) {
  if (Budget && !Budget->TakePage(APage.Page.Bits().size(), Lint, Job, AOffset)) return;
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
  if (!KeepPages) return;
  if (PageCount) ++*PageCount;
  if (Options.OnPage)
    Options.OnPage(std::move(APage));
  else
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
      "ELLIPSE",   "SELFTEST"};
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
               TRenderResult& AResult, TLint& ALint, TRenderBudget& ABudget, bool AKeepPages) {
  TListing listing;
  TJobContext context{AOptions, AJob, AData, ASize, listing, ALint, AResult.Pages};
  context.Budget = &ABudget;
  context.KeepPages = AKeepPages;
  context.PageCount = &AResult.PageCount;
  TRenderLanguage lang = AOptions.Language == rlAuto ? DetectLanguage(AData, ASize) : AOptions.Language;
  AResult.JobLanguages.push_back(lang);
  size_t at = 0;
  bool printed = false;
  while ((at < ASize || (!printed && lang == rlTspl)) && !ABudget.Exhausted()) {
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

// The closing findings of a message: the listing cut short, the pages
// withheld. An error found while drawing is a refusal too.
void Conclude(const TRenderOptions& AOptions, const TRenderBudget& ABudget, TRenderResult& AResult,
              TLint& ALint) {
  if (ABudget.ListingFull())
    ALint.Add(fsInfo, -1, 0,
              "the listing stops after " + std::to_string(AOptions.MaxListingLines) + " lines");
  if (AResult.Refused && !AOptions.Force)
    ALint.Add(fsInfo, -1, 0, "a printer refuses this job: it is listed and linted, its pages are not drawn");
  AResult.Findings = std::move(ALint.Findings());
  AResult.Refused = AResult.Refused || AResult.HasErrors();
}

}  // namespace

TRenderResult RenderCommandBytes(const uint8_t* AData, size_t ASize, const TRenderOptions& AOptions) {
  TRenderResult result;
  TLint lint;
  TRenderBudget budget(AOptions);
  if (ASize > kMaxPrintTaskCommandBytes) {
    lint.AddRefusal(trCommandsTooLarge, 0, 0,
                    "more than " + std::to_string(kMaxPrintTaskCommandBytes) +
                        " bytes of printer commands (" + std::to_string(ASize) +
                        "); a printer refuses the job");
    result.Refused = true;
  }
  RenderJob(AData, ASize, 0, AOptions, result, lint, budget, !result.Refused || AOptions.Force);
  Conclude(AOptions, budget, result, lint);
  return result;
}

TRenderResult RenderCommandBytes(const std::vector<uint8_t>& ABytes, const TRenderOptions& AOptions) {
  return RenderCommandBytes(ABytes.data(), ABytes.size(), AOptions);
}

TRenderResult RenderEnvelope(const std::string& AText, const TRenderOptions& AOptions) {
  TRenderResult result;
  TLint lint;
  TRenderBudget budget(AOptions);
  TJobReadOptions read;
  read.AdvisedMessageBytes = AOptions.MaxMessageBytes;
  read.Serial = AOptions.Serial;
  read.ReadOversized = AOptions.Force;
  bool refused = false;
  std::vector<TJobBytes> jobs = ReadEnvelopeJobs(AText, read, lint, &refused);
  result.Refused = refused;
  for (size_t k = 0; k < jobs.size(); ++k) {
    if (!jobs[k].Ok || budget.Exhausted()) {
      result.JobLanguages.push_back(rlAuto);
      continue;
    }
    RenderJob(jobs[k].Bytes.data(), jobs[k].Bytes.size(), static_cast<int>(k), AOptions, result, lint, budget,
              !result.Refused || AOptions.Force);
    // What is drawn is not needed any more.
    std::vector<uint8_t>().swap(jobs[k].Bytes);
  }
  Conclude(AOptions, budget, result, lint);
  return result;
}
TRenderResult RenderPrintJob(const std::string& AText, const TRenderOptions& AOptions) {
  const auto* data = reinterpret_cast<const uint8_t*>(AText.data());
  return LooksLikeEnvelope(data, AText.size()) ? RenderEnvelope(AText, AOptions)
                                               : RenderCommandBytes(data, AText.size(), AOptions);
}
