// Rendering a print job as the printer would print it: the entry points
// (envelope text or raw command bytes), the options, and what comes back
// per job: pages (one-bit images), the command listing and lint findings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Lint.h"
#include "Listing.h"
#include "PrinterProfile.h"
#include "RenderPage.h"
#include "TextDrawing.h"

enum TRenderLanguage { rlAuto, rlEscPos, rlTspl };

struct TRenderOptions {
  // The printer the job is drawn for: a name of PrinterProfiles(). Its width,
  // start-up code page and Chinese mode, fonts, codes and raster buffer
  // apply; an unknown name draws for the default profile, with a finding.
  std::string Profile = DefaultPrinterProfile().Name;
  // Printable width in dots, overriding the profile's (0: the profile's):
  // 576 for 80 mm paper, 384 for 58 mm.
  int Width = 0;
  // rlAuto detects TSPL's text commands against ESC/POS bytes.
  TRenderLanguage Language = rlAuto;
  // A receipt page stops growing here (a finding says so).
  int MaxPageHeight = 20000;
  // The printer's raster buffer: a raster needing more bytes is flagged
  // (0: the profile's, 2000 rows at 576 dots for gbk-80).
  size_t PrinterBufferBytes = 0;
  // Messages above this size are refused by cloud printers.
  size_t MaxMessageBytes = 1024 * 1024;
  // Pages kept per job (PRINT with many sets, many cuts).
  int MaxPages = 50;
  // A label side is limited to this many dots (500 mm).
  int MaxLabelDots = 4000;
  // The pages of one job together stay under this many bytes of dots.
  size_t MaxPageBytes = size_t{64} << 20;

  // The profile named by Profile (the default one when the name is unknown).
  const TPrinterProfile& PrinterProfile() const;
  // These options with the profile's values filled in where they are 0:
  // what the interpreters read.
  TRenderOptions Resolved() const;
};

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

  void Add(size_t AOffset, size_t ALength, std::string AMnemonic, std::string AArguments = std::string(),
           TListingStatus AStatus = lsDone) {
    Listing.Add(Job, Data, AOffset, ALength, std::move(AMnemonic), std::move(AArguments), AStatus);
  }
  void Find(TFindingSeverity ASeverity, size_t AOffset, std::string AText) {
    Lint.Add(ASeverity, Job, AOffset, std::move(AText));
  }
  // True when the profile's printer draws codes of AFamily; otherwise a
  // finding says that it prints nothing for this one.
  bool ProfileDraws(TCodeFamily AFamily, size_t AOffset);
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
