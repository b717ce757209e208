// Rendering a print job as the printer would print it: the entry points
// (envelope text or raw command bytes), the options, and what comes back
// per job: pages (one-bit images), the command listing and lint findings.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Lint.h"
#include "Listing.h"
#include "RenderPage.h"
#include "TextDrawing.h"

enum TRenderLanguage { rlAuto, rlEscPos, rlTspl };

struct TRenderedPage;

struct TRenderOptions {
  // Printable width of a receipt in dots: 576 (80 mm paper) or 384 (58 mm).
  int Width = 576;
  // rlAuto detects TSPL's text commands against ESC/POS bytes.
  TRenderLanguage Language = rlAuto;
  // A receipt page stops growing here (a finding says so).
  int MaxPageHeight = 20000;
  // The printer's raster buffer: a raster needing more bytes is flagged
  // (2000 rows at 576 dots).
  size_t PrinterBufferBytes = 2000 * 72;
  // Messages above this size are refused by cloud printers.
  size_t MaxMessageBytes = 1024 * 1024;
  // Pages kept per job (PRINT with many sets, many cuts).
  int MaxPages = 50;
  // A label side is limited to this many dots (500 mm).
  int MaxLabelDots = 4000;
  // The pages of one job together stay under this many bytes of dots.
  size_t MaxPageBytes = size_t{64} << 20;

  // One budget for a whole message, all its entries together (TRenderBudget);
  // what passes a limit is not drawn, and a finding says which limit.
  // Pages finished, kept or not.
  int MaxJobPages = 200;
  // Bytes of the pages finished (eight dots a byte).
  size_t MaxJobDotBytes = size_t{96} << 20;
  // Time spent drawing; 0: no limit.
  int MaxJobMilliseconds = 0;
  // Lines of the command listing.
  size_t MaxListingLines = 100000;
  // Draw a job the printer refuses (otherwise it is listed and linted only).
  bool Force = false;
  // Non-empty: the printer's serial; an envelope for another dvsno is one
  // that printer refuses.
  std::string Serial;
  // Set: every finished page is handed over here as it is made instead of
  // being kept in TRenderResult::Pages (a writer keeps no page in memory).
  std::function<void(TRenderedPage&&)> OnPage;
};

// What the printer's own limits are on a job: the default budget of the
// CLI, the console and the virtual printer (a job renders or stops within
// a second).
inline constexpr int kJobMillisecondsBudget = 1000;

// Something the printer does that leaves no dots (a cut, the buzzer, the
// cash drawer), at a row of the page.
struct TPageMark {
  int Y = 0;
  std::string Text;
};

struct TRenderedPage {
  int Job = 0;
  TRenderLanguage Language = rlEscPos;
  int Copies = 1;  // TSPL PRINT m,n: n copies of this set
  TRenderPage Page;
  std::vector<TPageMark> Marks;

  std::vector<uint8_t> Png() const { return PageToPng(Page); }
  std::vector<uint8_t> Grey8() const { return PageToGrey8(Page); }
};

struct TRenderResult {
  std::vector<TRenderedPage> Pages;
  // Pages finished (also those handed to TRenderOptions::OnPage).
  int PageCount = 0;
  // A printer refuses the job (HasErrors() says the same). When the
  // envelope itself is refused, the job is listed and linted, its pages not
  // drawn (unless TRenderOptions::Force).
  bool Refused = false;
  std::vector<TListingLine> Listing;
  std::vector<TFinding> Findings;
  // The language each job was read in.
  std::vector<TRenderLanguage> JobLanguages;

  bool HasErrors() const;
  std::string ListingText() const { return FormatListing(Listing); }
  std::string FindingsText() const { return FormatFindings(Findings); }
};

// An envelope: every entry of its list is a job.
TRenderResult RenderEnvelope(const std::string& AText, const TRenderOptions& AOptions = TRenderOptions());
// Raw command bytes: one job.
TRenderResult RenderCommandBytes(const uint8_t* AData, size_t ASize,
                                 const TRenderOptions& AOptions = TRenderOptions());
TRenderResult RenderCommandBytes(const std::vector<uint8_t>& ABytes,
                                 const TRenderOptions& AOptions = TRenderOptions());

// Either: an envelope when the text starts with '{' (after blanks),
// otherwise raw command bytes.
TRenderResult RenderPrintJob(const std::string& AText, const TRenderOptions& AOptions = TRenderOptions());

// TSPL when the job (after any mode or character-set frames and blank
// lines) starts with a TSPL command word, or a frame selects label mode.
TRenderLanguage DetectLanguage(const uint8_t* AData, size_t ASize);
const char* LanguageName(TRenderLanguage ALanguage);

// The budget of one whole message: every entry draws from it. Once a limit
// is passed it says so in one finding and Exhausted() stays true.
class TRenderBudget {
 public:
  explicit TRenderBudget(const TRenderOptions& AOptions);
  bool Exhausted() const { return FExhausted; }
  // Looks at the clock every few calls; true when the time is up.
  bool Tick(TLint& ALint, int AJob, size_t AOffset);
  // A finished page of ABytes; false when it passes the pages or dots limit.
  bool TakePage(size_t ABytes, TLint& ALint, int AJob, size_t AOffset);
  // One listing line; false when the listing is full (no finding: the
  // listing says so itself).
  bool TakeListingLine();
  bool ListingFull() const { return FListingFull; }

 private:
  void Stop(TLint& ALint, int AJob, size_t AOffset, std::string AText);
  const TRenderOptions& FOptions;
  std::chrono::steady_clock::time_point FStart;
  unsigned FTicks = 0;
  int FPages = 0;
  size_t FDotBytes = 0;
  size_t FListingLines = 0;
  bool FExhausted = false;
  bool FListingFull = false;
};

// What an interpreter works on: one job's bytes and where its output goes.
struct TJobContext {
  const TRenderOptions& Options;
  int Job = 0;
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  TListing& Listing;
  TLint& Lint;
  std::vector<TRenderedPage>& Pages;
  TCharset Charset = csGbk;
  int PagesOfJob = 0;
  size_t PageBytes = 0;
  bool PageLimitReported = false;
  // The message's budget (none: only the per-job limits hold).
  TRenderBudget* Budget = nullptr;
  // False: finished pages are counted, then dropped (a refused job is
  // listed and linted, not drawn).
  bool KeepPages = true;
  // Counts the pages kept or handed over.
  int* PageCount = nullptr;
  size_t LastOffset = 0;

  void Add(size_t AOffset, size_t ALength, std::string AMnemonic, std::string AArguments = std::string()) {
    LastOffset = AOffset;
    if (Budget && !Budget->TakeListingLine()) return;
    Listing.Add(Job, Data, AOffset, ALength, std::move(AMnemonic), std::move(AArguments));
  }
  // True once the message's budget is spent (without looking at the clock).
  bool OutOfBudget() const { return Budget && Budget->Exhausted(); }
  // True once the message's budget is spent: the interpreters stop reading.
  bool Stopped() { return Budget && (Budget->Exhausted() || Budget->Tick(Lint, Job, LastOffset)); }
  void Find(TFindingSeverity ASeverity, size_t AOffset, std::string AText) {
    Lint.Add(ASeverity, Job, AOffset, std::move(AText));
  }
  // Keeps a finished page unless the job has made too many.
  void AddPage(TRenderedPage&& APage, size_t AOffset);
};

// The 8-byte frame 10 F 01 00 01 00 V S (F = A2 print mode, A6 character
// set) at AData, ASize bytes available. Returns the frame's function (0
// when it is none); AChecksumOk says whether S is the sum of the others.
uint8_t SwitchFrameAt(const uint8_t* AData, size_t ASize, uint8_t& AValue, bool& AChecksumOk);
// Lists a switch frame, applies a character-set switch to the context and
// returns the language a print-mode frame selects (rlAuto: unchanged).
TRenderLanguage ApplySwitchFrame(TJobContext& AContext, size_t AOffset);
