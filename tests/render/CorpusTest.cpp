// The corpus: real jobs made by public generator libraries (tests/data/corpus,
// made by tests/data/generators/regenerate). Each job is drawn by
// `tessiva-cli render` for the printer profile it was made for, and what it
// printed is checked against the generator's input with tools of their own:
// every code is read back by zbarimg and by zxing-cpp's ZXingReader (each
// decoder that knows the symbology must find it), the text lines are read
// back by tesseract, and the pages, copies and label sizes come from the
// render. Nothing here is compared with an earlier render of ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Json.h"
#include "RenderTestSupport.h"
#include "TempDir.h"

namespace {

using tessiva::test::FindProgram;
using tessiva::test::RunProcess;
using tessiva::test::TRunResult;
using tessiva::test::TTempDir;

const std::string kCorpusDir = TESSIVA_CORPUS_DIR;

// ---------------------------------------------------------------- the manifest

struct TExpectedCode {
  std::string Symbology;  // the manifest's name, a row of kSymbologies
  std::string Data;
};

struct TCorpusJob {
  std::string Name, Generator, Version, Call, Profile, Language, File, Input;
  std::vector<TExpectedCode> Codes;
  std::vector<std::string> Text;
  std::string OcrLanguages = "eng";
  int Pages = -1;
  int Copies = -1;
  double LabelWidthMm = 0, LabelHeightMm = 0;
  int LabelDpi = 0;
  int LabelDotsPerMm = 0;
  bool Rotate180 = false;
};

std::string ReadFile(const std::string& AName) {
  std::ifstream in(AName, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + AName);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string StringMember(const TJsonValue& AObject, const std::string& AName) {
  const TJsonValue* v = AObject.Member(AName);
  if (!v || !v->IsString())
    throw std::runtime_error("manifest: member '" + AName + "' missing or not a string");
  return v->Text;
}

double NumberMember(const TJsonValue& AObject, const std::string& AName, double ADefault) {
  const TJsonValue* v = AObject.Member(AName);
  if (!v) return ADefault;
  if (v->Kind != TJsonValue::jkNumber)
    throw std::runtime_error("manifest: member '" + AName + "' not a number");
  return std::stod(v->Text);
}

std::vector<TCorpusJob> LoadManifest() {
  const TJsonValue root = ParseJson(ReadFile(kCorpusDir + "/manifest.json"));
  const TJsonValue* list = root.Member("jobs");
  if (!list || !list->IsArray()) throw std::runtime_error("manifest: no jobs array");
  std::vector<TCorpusJob> jobs;
  for (const TJsonValue& j : list->Items) {
    TCorpusJob job;
    job.Name = StringMember(j, "name");
    job.Generator = StringMember(j, "generator");
    job.Version = StringMember(j, "version");
    job.Call = StringMember(j, "call");
    job.Profile = StringMember(j, "profile");
    job.Language = StringMember(j, "language");
    job.File = StringMember(j, "file");
    job.Input = StringMember(j, "input");
    const TJsonValue* e = j.Member("expect");
    if (!e || !e->IsObject()) throw std::runtime_error("manifest: job " + job.Name + " has no expect object");
    if (const TJsonValue* codes = e->Member("codes"))
      for (const TJsonValue& c : codes->Items)
        job.Codes.push_back({StringMember(c, "symbology"), StringMember(c, "data")});
    if (const TJsonValue* text = e->Member("text"))
      for (const TJsonValue& t : text->Items) job.Text.push_back(t.Text);
    if (e->Member("ocr")) job.OcrLanguages = StringMember(*e, "ocr");
    job.Pages = static_cast<int>(NumberMember(*e, "pages", -1));
    job.Copies = static_cast<int>(NumberMember(*e, "copies", -1));
    if (const TJsonValue* label = e->Member("label")) {
      job.LabelWidthMm = NumberMember(*label, "widthMm", 0);
      job.LabelHeightMm = NumberMember(*label, "heightMm", 0);
      job.LabelDpi = static_cast<int>(NumberMember(*label, "dpi", 0));
      job.LabelDotsPerMm = static_cast<int>(NumberMember(*label, "dotsPerMm", 0));
    }
    if (const TJsonValue* r = e->Member("rotate180"))
      job.Rotate180 = r->Kind == TJsonValue::jkBool && r->Bool;
    jobs.push_back(std::move(job));
  }
  return jobs;
}

const std::vector<TCorpusJob>& Corpus() {
  static const std::vector<TCorpusJob> jobs = LoadManifest();
  return jobs;
}

const TCorpusJob* FindJob(const std::string& AName) {
  for (const TCorpusJob& j : Corpus())
    if (j.Name == AName) return &j;
  return nullptr;
}

// ---------------------------------------------------------------- decoders

// How data is compared. GS1 element strings are compared without the
// parentheses around application identifiers and without FNC1 separators,
// which are presentation (a GTIN in DataBar omnidirectional also without its
// implied (01)); Codabar without its start and stop characters,
// which one decoder reports and the other drops.
enum TDataForm { dfPlain, dfGs1, dfGtin, dfCodabar };

// How each decoder names a symbology; empty when the decoder cannot read it.
// ZxingIds: the symbology identifiers (ISO/IEC 15424) ZXingReader must
// report, when the name alone does not tell the variant: a QR code model 1
// is "]Q0", model 2 "]Q1" to "]Q6".
struct TSymbology {
  const char* Name;
  const char* Zbar;
  const char* Zxing;
  TDataForm Form;
  std::vector<std::string> ZxingIds = {};
};
const TSymbology kSymbologies[] = {
    {"EAN-13", "EAN-13", "EAN-13", dfPlain},
    {"EAN-8", "EAN-8", "EAN-8", dfPlain},
    {"UPC-A", "UPC-A", "UPC-A", dfPlain},
    {"UPC-E", "UPC-E", "UPC-E", dfPlain},
    {"Code 39", "CODE-39", "Code39", dfPlain},
    {"Code 93", "CODE-93", "Code93", dfPlain},
    {"Code 128", "CODE-128", "Code128", dfPlain},
    {"ITF", "I2/5", "ITF", dfPlain},
    {"Codabar", "Codabar", "Codabar", dfCodabar},
    {"DataBar", "DataBar", "DataBar", dfGtin},
    {"DataBar Expanded", "DataBar-Exp", "DataBarExpanded", dfGs1},
    {"QR Code", "QR-Code", "QRCode", dfPlain, {"]Q1", "]Q2", "]Q3", "]Q4", "]Q5", "]Q6"}},
    {"QR Code Model 1", "", "QRCode", dfPlain, {"]Q0"}},
    {"Micro QR", "", "MicroQRCode", dfPlain},
    {"PDF417", "", "PDF417", dfPlain},
    {"MaxiCode", "", "MaxiCode", dfPlain},
    {"DataMatrix", "", "DataMatrix", dfPlain},
    {"Aztec", "", "Aztec", dfPlain},
};

const TSymbology* FindSymbology(const std::string& AName) {
  for (const TSymbology& s : kSymbologies)
    if (AName == s.Name) return &s;
  return nullptr;
}

struct TDecoded {
  std::string Format;
  std::string Data;
  std::string Identifier;  // ZXingReader's symbology identifier
};

// zbarimg -q prints one "FORMAT:data" line per symbol found (every
// symbology enabled).
std::vector<TDecoded> ZbarDecode(const std::string& APng) {
  const TRunResult r = RunProcess({"zbarimg", "-q", "-Senable", APng});
  std::vector<TDecoded> out;
  std::istringstream lines(r.Stdout);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos)
      out.push_back({line.substr(0, colon), line.substr(colon + 1), std::string()});
  }
  return out;
}

// ZXingReader prints a block per symbol: 'Text:       "data"', 'Format:     NAME', ...
// -noscale: the pages are crisp, whole dots; and zxing-cpp 1.4 aborts on an
// assertion when it compares a linear code found in a downscaled copy with
// the same code found at full size. An abort is reported as what it read.
std::vector<TDecoded> ZxingDecode(const std::string& APng) {
  const TRunResult r = RunProcess({"ZXingReader", "-noscale", APng});
  std::vector<TDecoded> out;
  if (r.ExitCode != 0)
    out.push_back({"(ZXingReader failed: " + r.Stderr + ")", std::string(), std::string()});
  std::istringstream lines(r.Stdout);
  TDecoded current;
  bool haveText = false;
  for (std::string line; std::getline(lines, line);) {
    auto value = [&](const char* AKey) -> const char* {
      const size_t n = std::char_traits<char>::length(AKey);
      return line.compare(0, n, AKey) == 0 ? line.c_str() + n : nullptr;
    };
    if (const char* v = value("Text:")) {
      std::string t(v);
      t.erase(0, t.find_first_not_of(' '));
      if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
      current = TDecoded{};
      current.Data = t;
      haveText = true;
    } else if (const char* f = value("Format:")) {
      std::string t(f);
      t.erase(0, t.find_first_not_of(' '));
      if (haveText) {
        current.Format = t;
        out.push_back(current);
        haveText = false;
      }
    } else if (const char* id = value("Identifier:")) {
      std::string t(id);
      t.erase(0, t.find_first_not_of(' '));
      if (!out.empty()) out.back().Identifier = t;
    }
  }
  return out;
}

std::string Comparable(std::string AData, TDataForm AForm) {
  if (AForm == dfGs1 || AForm == dfGtin)
    AData.erase(std::remove_if(AData.begin(), AData.end(),
                               [](char c) { return c == '(' || c == ')' || c == '\x1d'; }),
                AData.end());
  // DataBar omnidirectional holds one GTIN-14; its (01) is implied, and one decoder leaves it out.
  if (AForm == dfGtin && AData.size() == 16 && AData.compare(0, 2, "01") == 0) AData = AData.substr(2);
  if (AForm == dfCodabar && AData.size() >= 2) {
    auto guard = [](char c) { return (c >= 'A' && c <= 'D') || (c >= 'a' && c <= 'd'); };
    if (guard(AData.front()) && guard(AData.back())) AData = AData.substr(1, AData.size() - 2);
  }
  return AData;
}

bool Found(const std::vector<TDecoded>& ADecoded, const std::string& AFormat, const TExpectedCode& ACode,
           TDataForm AForm, const std::vector<std::string>& AIds = {}) {
  for (const TDecoded& d : ADecoded)
    if (d.Format == AFormat && Comparable(d.Data, AForm) == Comparable(ACode.Data, AForm) &&
        (AIds.empty() || std::find(AIds.begin(), AIds.end(), d.Identifier) != AIds.end()))
      return true;
  return false;
}

std::string Describe(const std::vector<TDecoded>& ADecoded) {
  if (ADecoded.empty()) return "nothing";
  std::string s;
  for (const TDecoded& d : ADecoded)
    s += (s.empty() ? "" : ", ") + d.Format + (d.Identifier.empty() ? "" : " " + d.Identifier) + " \"" +
         d.Data + "\"";
  return s;
}

// ---------------------------------------------------------------- OCR

std::u32string Utf32(const std::string& AText) {
  std::u32string out;
  for (size_t i = 0; i < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    char32_t cp = c;
    int extra = 0;
    if (c >= 0xF0)
      cp = c & 0x07, extra = 3;
    else if (c >= 0xE0)
      cp = c & 0x0F, extra = 2;
    else if (c >= 0xC0)
      cp = c & 0x1F, extra = 1;
    ++i;
    for (int k = 0; k < extra && i < AText.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(AText[i]) & 0x3F);
    out.push_back(cp);
  }
  return out;
}

std::string Utf8(const std::u32string& AText) {
  std::string out;
  for (char32_t c : AText) {
    if (c < 0x80)
      out += static_cast<char>(c);
    else if (c < 0x800)
      out += static_cast<char>(0xC0 | (c >> 6)), out += static_cast<char>(0x80 | (c & 0x3F));
    else if (c < 0x10000)
      out += static_cast<char>(0xE0 | (c >> 12)), out += static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
          out += static_cast<char>(0x80 | (c & 0x3F));
    else
      out += static_cast<char>(0xF0 | (c >> 18)), out += static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
          out += static_cast<char>(0x80 | ((c >> 6) & 0x3F)), out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Spaces carry no weight: a receipt pads its columns with runs of them, and
// OCR reads such runs as one space or none.
std::u32string WithoutSpaces(const std::u32string& AText) {
  std::u32string out;
  for (char32_t c : AText)
    if (c != U' ' && c != U'\t' && c != U'\n' && c != U'\r' && c != U'\f') out.push_back(c);
  return out;
}

// The smallest edit distance between ANeedle and any substring of AHay
// (approximate substring matching), and the substring that reaches it.
size_t BestMatch(const std::u32string& ANeedle, const std::u32string& AHay, std::u32string& AMatch) {
  const size_t m = ANeedle.size(), n = AHay.size();
  // D[i][j]: distance of ANeedle[0,i) to the best substring ending at AHay[j); S: where it starts.
  std::vector<size_t> prev(n + 1, 0), cur(n + 1), prevStart(n + 1), curStart(n + 1);
  for (size_t j = 0; j <= n; ++j) prevStart[j] = j;
  for (size_t i = 1; i <= m; ++i) {
    cur[0] = i;
    curStart[0] = 0;
    for (size_t j = 1; j <= n; ++j) {
      const size_t sub = prev[j - 1] + (ANeedle[i - 1] == AHay[j - 1] ? 0 : 1);
      const size_t del = prev[j] + 1, ins = cur[j - 1] + 1;
      if (sub <= del && sub <= ins)
        cur[j] = sub, curStart[j] = prevStart[j - 1];
      else if (del <= ins)
        cur[j] = del, curStart[j] = prevStart[j];
      else
        cur[j] = ins, curStart[j] = curStart[j - 1];
    }
    std::swap(prev, cur);
    std::swap(prevStart, curStart);
  }
  size_t best = m, bestEnd = 0;
  for (size_t j = 0; j <= n; ++j)
    if (prev[j] < best) best = prev[j], bestEnd = j;
  AMatch = best < m ? AHay.substr(prevStart[bestEnd], bestEnd - prevStart[bestEnd]) : std::u32string();
  return best;
}

// A page for tesseract, as pictures of its lines. Rules and table borders
// are taken away, then the page is cut into bands of rows with ink between
// white rows. A band that is tall and dense
// is a code or a picture, not text, and is left out. A dense low band is
// reversed (white on black) text and is turned back to black on white. The
// page is scaled up to about 72 pixels a line, the height tesseract reads
// best (a 24-dot line three times, a small label font more), from the median
// height of its lines. Each band becomes a PGM file of its own with a white
// margin: single lines are read as lines, taller bands (lines joined by box
// drawing) as blocks. Read whole, a receipt's layout confuses tesseract's
// page analysis: it takes a QR code or a dashed rule for a text block and
// drops the lines beside it. Optionally the page is first turned half round
// (a job printed upside down).
struct TOcrBands {
  std::vector<std::string> Lines, Blocks;
};

void WriteOcrBands(const TPngDots& APage, bool ARotate180, const std::string& APrefix, TOcrBands& AOut) {
  const int pw = APage.Width, ph = APage.Height;
  std::vector<uint8_t> ink(static_cast<size_t>(pw) * ph);
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw; ++x)
      ink[static_cast<size_t>(y) * pw + x] =
          APage.Dots[ARotate180 ? static_cast<size_t>(ph - 1 - y) * pw + (pw - 1 - x)
                                : static_cast<size_t>(y) * pw + x];
  auto at = [&](int x, int y) -> uint8_t& { return ink[static_cast<size_t>(y) * pw + x]; };
  // Rules and table borders are not text, and they join the lines they
  // frame into one band: thin (up to 4 dots) horizontal runs longer than
  // four wide glyphs and thin vertical runs taller than a line are taken
  // away. Glyph strokes are shorter, reversed text's ground is thicker.
  std::vector<uint8_t> rule(ink.size());
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw;) {
      int e = x;
      while (e < pw && at(e, y)) ++e;
      if (e - x >= 48) {
        // Thickness: the least of three places along the run (a crossing rule is thick at one).
        int thick = ph;
        for (int q = 1; q <= 3; ++q) {
          const int atX = x + (e - x) * q / 4;
          int t = y, b = y;
          while (t > 0 && at(atX, t - 1)) --t;
          while (b + 1 < ph && at(atX, b + 1)) ++b;
          thick = std::min(thick, b - t + 1);
        }
        if (thick <= 4)
          for (int k = x; k < e; ++k) rule[static_cast<size_t>(y) * pw + k] = 1;
      }
      x = e == x ? x + 1 : e;
    }
  for (int x = 0; x < pw; ++x)
    for (int y = 0; y < ph;) {
      int e = y;
      while (e < ph && at(x, e)) ++e;
      if (e - y >= 30) {
        int thick = pw;
        for (int q = 1; q <= 3; ++q) {
          const int atY = y + (e - y) * q / 4;
          int l = x, r = x;
          while (l > 0 && at(l - 1, atY)) --l;
          while (r + 1 < pw && at(r + 1, atY)) ++r;
          thick = std::min(thick, r - l + 1);
        }
        if (thick <= 4)
          for (int k = y; k < e; ++k) rule[static_cast<size_t>(k) * pw + x] = 1;
      }
      y = e == y ? y + 1 : e;
    }
  for (size_t i = 0; i < ink.size(); ++i)
    if (rule[i]) ink[i] = 0;
  auto dot = [&](int x, int y) { return at(x, y) != 0; };
  auto rowInk = [&](int row) {
    for (int x = 0; x < pw; ++x)
      if (dot(x, row)) return true;
    return false;
  };
  struct TBand {
    int Y0, Y1, X0, X1;
    bool Reverse;
  };
  std::vector<TBand> bands;
  for (int y = 0; y < ph;) {
    if (!rowInk(y)) {
      ++y;
      continue;
    }
    TBand b{y, y, pw, 0, false};
    size_t count = 0;
    while (y < ph && rowInk(y)) {
      for (int x = 0; x < pw; ++x)
        if (dot(x, y)) ++count, b.X0 = std::min(b.X0, x), b.X1 = std::max(b.X1, x + 1);
      ++y;
    }
    b.Y1 = y;
    const int h = b.Y1 - b.Y0;
    const double density = static_cast<double>(count) / (static_cast<double>(h) * (b.X1 - b.X0));
    if (h > 50 && density > 0.3) continue;
    b.Reverse = density > 0.5;
    bands.push_back(b);
    // Reversed words inside a band of plain text (ESC/POS GS B): runs of at
    // least two character cells of columns mostly black, read on their own
    // and turned back to black on white.
    if (b.Reverse) continue;
    for (int x = b.X0; x < b.X1;) {
      auto dark = [&](int col) {
        int n = 0;
        for (int yy = b.Y0; yy < b.Y1; ++yy) n += dot(col, yy);
        return n * 2 >= h;
      };
      if (!dark(x)) {
        ++x;
        continue;
      }
      // Strokes of the reversed glyphs are white columns: gaps of up to 6 are bridged.
      int e = x + 1, last = x;
      while (e < b.X1 && e - last <= 6) {
        if (dark(e)) last = e;
        ++e;
      }
      if (last + 1 - x >= 24) {
        // The reversed box's own rows: those mostly black across the run.
        TBand r{b.Y1, b.Y0, x, last + 1, true};
        for (int yy = b.Y0; yy < b.Y1; ++yy) {
          int n = 0;
          for (int xx = x; xx <= last; ++xx) n += dot(xx, yy);
          if (n * 2 >= last + 1 - x) r.Y0 = std::min(r.Y0, yy), r.Y1 = std::max(r.Y1, yy + 1);
        }
        if (r.Y1 > r.Y0) bands.push_back(r);
      }
      x = last + 1;
    }
  }
  std::vector<int> heights;
  for (const TBand& b : bands)
    if (b.Y1 - b.Y0 <= 48) heights.push_back(b.Y1 - b.Y0);
  int scale = 3;
  if (!heights.empty()) {
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    scale = std::clamp(static_cast<int>(72.0 / heights[heights.size() / 2] + 0.5), 1, 6);
  }
  // Each band once as drawn and once squeezed to half its width: text in
  // double width reads as text again when squeezed.
  const int margin = 24;
  for (size_t k = 0; k < bands.size(); ++k)
    for (int squeeze = 1; squeeze <= 2; ++squeeze) {
      const TBand& b = bands[k];
      const int bw = (b.X1 - b.X0 + squeeze - 1) / squeeze;
      const int w = bw * scale + 2 * margin, h = (b.Y1 - b.Y0) * scale + 2 * margin;
      std::string pixels(static_cast<size_t>(w) * h, '\xff');
      for (int y = b.Y0; y < b.Y1; ++y)
        for (int c = 0; c < bw; ++c) {
          if (dot(b.X0 + c * squeeze, y) == b.Reverse) continue;
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
              pixels[static_cast<size_t>(margin + (y - b.Y0) * scale + dy) * w + margin + c * scale + dx] = 0;
        }
      const std::string name = APrefix + "-" + std::to_string(k) + "-" + std::to_string(squeeze) + ".pgm";
      std::ofstream out(name, std::ios::binary);
      out << "P5\n" << w << ' ' << h << "\n255\n" << pixels;
      if (!out) throw std::runtime_error("cannot write " + name);
      (b.Y1 - b.Y0 <= 48 ? AOut.Lines : AOut.Blocks).push_back(name);
    }
}

// Tesseract over a list of pictures in one run (a file naming one picture a line).
std::string Tesseract(const TTempDir& ADir, const std::string& AListName,
                      const std::vector<std::string>& AFiles, const std::string& ALanguages,
                      const char* APsm) {
  if (AFiles.empty()) return std::string();
  std::string list;
  for (const std::string& f : AFiles) list += f + "\n";
  const std::string listFile = ADir.WriteFile(AListName, list);
  const TRunResult t = RunProcess({"tesseract", listFile, "stdout", "-l", ALanguages, "--psm", APsm},
                                  std::string(), std::chrono::milliseconds(240000));
  if (t.ExitCode != 0) throw std::runtime_error("tesseract failed:\n" + t.Stderr);
  return t.Stdout;
}

std::set<std::string> TesseractLanguages() {
  static const std::set<std::string> languages = [] {
    std::set<std::string> out;
    const TRunResult r = RunProcess({"tesseract", "--list-langs"});
    std::istringstream lines(r.Stdout + r.Stderr);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line.find(' ') == std::string::npos) out.insert(line);
    return out;
  }();
  return languages;
}

// A line counts as printed when OCR finds it with at most one character in
// four wrong (the character error rate against the closest passage of the
// page), and the characters outside ASCII in it are among the characters of
// that passage: all of them when the line has one or two, all but one in
// three otherwise. Tesseract reads clean printer glyphs far better than
// that, though it drops a small caron now and then (ť, ď); what the bounds
// reject is a line drawn in the wrong code page or character set, where
// every accented letter, Cyrillic, Greek or Chinese character comes out as
// another glyph. The second rule catches a single wrong character that the
// rate forgives, such as a euro sign drawn from the wrong table.
constexpr double kMaxLineErrorRate = 0.25;

// ---------------------------------------------------------------- rendering

struct TRenderedJob {
  std::vector<std::string> PngFiles;
  struct TPageInfo {
    int Width = 0, Height = 0, Copies = 1;
  };
  std::vector<TPageInfo> Pages;
};

// "OUT.png: tspl page 400 x 240 dots, 3 copies; cut at row 80"
bool ParsePageLine(const std::string& ALine, std::string& AFile, TRenderedJob::TPageInfo& AInfo) {
  const size_t sep = ALine.find(": ");
  const size_t page = ALine.find(" page ");
  if (sep == std::string::npos || page == std::string::npos) return false;
  AFile = ALine.substr(0, sep);
  if (std::sscanf(ALine.c_str() + page, " page %d x %d dots", &AInfo.Width, &AInfo.Height) != 2) return false;
  const size_t copies = ALine.find(" cop", page);
  AInfo.Copies = 1;
  if (copies != std::string::npos) {
    const size_t comma = ALine.rfind(", ", copies);
    if (comma != std::string::npos) AInfo.Copies = std::atoi(ALine.c_str() + comma + 2);
  }
  return true;
}

class CorpusJob : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusJob, PrintsWhatItsGeneratorWasGiven) {
  const TCorpusJob* job = FindJob(GetParam());
  ASSERT_NE(job, nullptr) << "no job '" << GetParam() << "' in " << kCorpusDir << "/manifest.json";
  SCOPED_TRACE(job->Name + " (" + job->Generator + " " + job->Version + ", profile " + job->Profile + ")");

  // The tools this check stands on; a missing one fails the job, it does not skip it.
  if (!job->Codes.empty()) {
    ASSERT_FALSE(FindProgram("zbarimg").empty())
        << "zbarimg is missing: install zbar-tools (scripts/install-deps)";
    ASSERT_FALSE(FindProgram("ZXingReader").empty())
        << "ZXingReader is missing: install zxing-cpp-tools (scripts/install-deps)";
  }
  if (!job->Text.empty()) {
    ASSERT_FALSE(FindProgram("tesseract").empty())
        << "tesseract is missing: install tesseract-ocr (scripts/install-deps)";
    std::istringstream langs(job->OcrLanguages);
    for (std::string lang; std::getline(langs, lang, '+');)
      ASSERT_TRUE(TesseractLanguages().count(lang))
          << "tesseract has no '" << lang
          << "' data: install its tesseract-ocr-* package (scripts/install-deps)";
  }

  TTempDir dir("tessiva-corpus-");
  const std::string out = dir.File(job->Name + ".png");
  const std::string language = job->Language == "tspl" ? "--tspl" : "--escpos";
  const std::vector<std::string> args = {TESSIVA_CLI, "render",     "--raw",
                                         "--profile", job->Profile, language,
                                         "-o",        out,          kCorpusDir + "/" + job->File};
  const TRunResult r = RunProcess(args);
  ASSERT_EQ(r.ExitCode, 0) << "tessiva-cli render failed:\n" << r.Stderr;

  TRenderedJob rendered;
  std::istringstream lines(r.Stderr);
  for (std::string line; std::getline(lines, line);) {
    std::string file;
    TRenderedJob::TPageInfo info;
    if (ParsePageLine(line, file, info)) rendered.PngFiles.push_back(file), rendered.Pages.push_back(info);
  }

  if (job->Pages >= 0) {
    EXPECT_EQ(static_cast<int>(rendered.Pages.size()), job->Pages) << "pages (cuts)\n" << r.Stderr;
  }
  ASSERT_FALSE(rendered.Pages.empty()) << "the job printed no page\n" << r.Stderr;
  if (job->Copies >= 0) {
    for (const auto& p : rendered.Pages) {
      EXPECT_EQ(p.Copies, job->Copies) << "copies of each label";
    }
  }
  if (job->LabelDotsPerMm > 0) {
    // SIZE in millimetres: TSPL counts 8 dots a millimetre at 203 dpi, 12 at 300 dpi.
    const double w = job->LabelWidthMm * job->LabelDotsPerMm, h = job->LabelHeightMm * job->LabelDotsPerMm;
    for (const auto& p : rendered.Pages) {
      EXPECT_NEAR(p.Width, w, 1.0) << "label width in dots";
      EXPECT_NEAR(p.Height, h, 1.0) << "label height in dots";
    }
  }

  // Codes: every decoder that knows the symbology must read it on some page.
  std::vector<TDecoded> zbar, zxing;
  if (!job->Codes.empty())
    for (const std::string& png : rendered.PngFiles) {
      for (TDecoded& d : ZbarDecode(png)) zbar.push_back(std::move(d));
      for (TDecoded& d : ZxingDecode(png)) zxing.push_back(std::move(d));
    }
  for (const TExpectedCode& code : job->Codes) {
    const TSymbology* s = FindSymbology(code.Symbology);
    ASSERT_NE(s, nullptr) << "no decoder row for symbology '" << code.Symbology << "'";
    ASSERT_TRUE(*s->Zbar || *s->Zxing) << "no decoder reads " << code.Symbology;
    if (*s->Zbar) {
      EXPECT_TRUE(Found(zbar, s->Zbar, code, s->Form)) << "zbarimg did not read " << code.Symbology << " \""
                                                       << code.Data << "\"; it read " << Describe(zbar);
    }
    if (*s->Zxing) {
      EXPECT_TRUE(Found(zxing, s->Zxing, code, s->Form, s->ZxingIds))
          << "ZXingReader did not read " << code.Symbology << " \"" << code.Data << "\"; it read "
          << Describe(zxing);
    }
  }

  // Text: tesseract reads the pages back.
  if (!job->Text.empty()) {
    TOcrBands bands;
    for (size_t k = 0; k < rendered.PngFiles.size(); ++k)
      WriteOcrBands(ReadPngDots(rendered.PngFiles[k]), job->Rotate180, dir.File("ocr-" + std::to_string(k)),
                    bands);
    const std::string ocr = Tesseract(dir, "lines.txt", bands.Lines, job->OcrLanguages, "7") + "\n" +
                            Tesseract(dir, "blocks.txt", bands.Blocks, job->OcrLanguages, "6");
    const std::u32string hay = WithoutSpaces(Utf32(ocr));
    for (const std::string& line : job->Text) {
      const std::u32string needle = WithoutSpaces(Utf32(line));
      std::u32string match;
      const size_t distance = BestMatch(needle, hay, match);
      const double rate = needle.empty() ? 0.0 : static_cast<double>(distance) / needle.size();
      EXPECT_LE(rate, kMaxLineErrorRate) << "line \"" << line << "\" not read back (closest: \""
                                         << Utf8(match) << "\", error rate " << rate << "); tesseract read:\n"
                                         << ocr;
      std::string missing;
      size_t outside = 0, missed = 0;
      for (char32_t c : needle)
        if (c >= 0x80) {
          ++outside;
          if (match.find(c) == std::u32string::npos) ++missed, missing += Utf8(std::u32string(1, c));
        }
      EXPECT_LE(missed, outside / 3) << "line \"" << line << "\": \"" << missing
                                     << "\" not printed (closest: \"" << Utf8(match) << "\")";
    }
  }
}

// The jobs checked here: every job of the corpus that passes today. A job
// that does not (the renderer draws it wrong, or a reader cannot read what
// it printed) keeps its data in the corpus and stays out of this table.
const std::vector<std::string> kCheckedJobs = {
    "receiptline-example-receipt",
    "receiptline-example-line-align",
    "receiptline-barcodes-ean-upc",
    "receiptline-barcodes-1d",
    "receiptline-qrcode",
    "receiptline-cuts",
    "receiptline-multilingual",
    "receiptline-cp866",
    "receiptline-cp852",
    "receiptline-58mm",
    "receiptline-upside-down",
    "encoder-text-styles",
    "encoder-cyrillic",
    "encoder-greek",
    "encoder-czech",
    "encoder-euro",
    "encoder-box-table",
    "encoder-barcodes-ean-upc",
    "encoder-barcodes-1d",
    "encoder-gs1-databar",
    "encoder-qrcode",
    "encoder-pdf417",
    "encoder-image-raster",
    "encoder-image-column",
    "encoder-cuts",
    "encoder-58mm",
    "thermal-receipt",
    "thermal-barcodes",
    "thermal-qrcode",
    "thermal-pdf417",
    "thermal-maxicode",
    "thermal-pc866",
    "thermal-wpc1251",
    "thermal-pc852",
    "thermal-iso8859-7",
    "thermal-wpc1253",
    "thermal-pc858-euro",
    "thermal-china",
    "thermal-upside-down",
    "thermal-image",
    "label-text",
    "label-code128",
    "label-ean13",
    "label-ean8-upca",
    "label-code39",
    "label-qrcode",
    "label-bitmap",
    "label-copies",
    "label-300dpi",
};

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusJob, ::testing::ValuesIn(kCheckedJobs),
                         [](const ::testing::TestParamInfo<std::string>& AInfo) {
                           std::string n = AInfo.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

// The corpus itself: every job has its command file, its generator, version,
// input and call recorded, something to check, and a symbology a decoder reads.
TEST(CorpusManifest, EveryJobIsComplete) {
  ASSERT_GE(Corpus().size(), 30u);
  std::set<std::string> names;
  for (const TCorpusJob& job : Corpus()) {
    SCOPED_TRACE(job.Name);
    EXPECT_TRUE(names.insert(job.Name).second) << "duplicate name";
    const std::string bytes = ReadFile(kCorpusDir + "/" + job.File);
    EXPECT_FALSE(bytes.empty());
    EXPECT_FALSE(job.Generator.empty());
    EXPECT_FALSE(job.Version.empty());
    EXPECT_FALSE(job.Input.empty());
    EXPECT_FALSE(job.Call.empty());
    EXPECT_TRUE(job.Language == "escpos" || job.Language == "tspl") << job.Language;
    EXPECT_TRUE(!job.Codes.empty() || !job.Text.empty()) << "nothing to check";
    EXPECT_GE(job.Pages, 1);
    if (job.Language == "tspl") {
      EXPECT_GT(job.LabelDotsPerMm, 0) << "a label job gives its size";
    }
    for (const TExpectedCode& c : job.Codes) {
      const TSymbology* s = FindSymbology(c.Symbology);
      ASSERT_NE(s, nullptr) << c.Symbology;
      EXPECT_TRUE(*s->Zbar || *s->Zxing) << c.Symbology;
    }
  }
  for (const std::string& name : kCheckedJobs) EXPECT_NE(FindJob(name), nullptr) << name;
}

// The OCR comparison itself, on texts with known distances.
TEST(CorpusOcrMatch, FindsTheClosestPassage) {
  struct TCase {
    const char* Needle;
    const char* Hay;
    size_t Distance;
  } cases[] = {
      {"TOTAL", "xxTOTALyy", 0},
      {"TOTAL", "xxT0TALyy", 1},
      {"Итого", "ИтогоZ", 0},
      {"12,50€", "12,50E", 1},
      {"abc", "", 3},
      {"Grüße", "GruBe", 2},
  };
  for (const TCase& c : cases) {
    std::u32string match;
    EXPECT_EQ(BestMatch(Utf32(c.Needle), Utf32(c.Hay), match), c.Distance) << c.Needle << " in " << c.Hay;
  }
}

}  // namespace
