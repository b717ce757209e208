#include "CodePages.h"

#include <iconv.h>

#include <cstdio>

namespace {

// Epson's page 1: block and line graphics in 80..9F, half-width katakana
// (JIS X 0201) in A1..DF, and more graphics, suit symbols and the kanji of
// dates and addresses in E0..FF.
const uint32_t kKatakanaGraphics[32] = {
    0x2581, 0x2582, 0x2583, 0x2584, 0x2585, 0x2586, 0x2587, 0x2588,  // lower eighths, full block
    0x258F, 0x258E, 0x258D, 0x258C, 0x258B, 0x258A, 0x2589, 0x253C,  // left eighths, cross
    0x2534, 0x252C, 0x2524, 0x251C, 0x2594, 0x2500, 0x2502, 0x2595,  // tees, top bar, rules
    0x250C, 0x2510, 0x2514, 0x2518, 0x256D, 0x256E, 0x2570, 0x256F,  // corners, round corners
};
const uint32_t kKatakanaSymbols[32] = {
    0x2550, 0x255E, 0x256A, 0x2561, 0x25E2, 0x25E3, 0x25E5, 0x25E4,  // double rules, triangles
    0x2660, 0x2665, 0x2666, 0x2663, 0x25CF, 0x25CB, 0x2571, 0x2572,  // suits, circles, diagonals
    0x2573, 0x5186, 0x5E74, 0x6708, 0x65E5, 0x6642, 0x5206, 0x79D2,  // 円 年 月 日 時 分 秒
    0x3012, 0x5E02, 0x533A, 0x753A, 0x6751, 0x4EBA, 0x0020, 0x0020,  // 〒 市 区 町 村 人, blanks
};

struct TTableRow {
  int EscPos;
  const char* Name;
  const char* Tspl;
  const char* Iconv;  // null: built in
};

// ESC t numbers as Epson assigns them; tables that iconv lacks (PC853,
// PC720, the Thai and Indic pages, TCVN-3, PC1098/1118/1119) are not here,
// so selecting one is reported and PC437 is drawn.
const TTableRow kRows[] = {
    {0, "PC437", "437", "IBM437"},
    {1, "Katakana", "", nullptr},
    {2, "PC850", "850", "IBM850"},
    {3, "PC860", "860", "IBM860"},
    {4, "PC863", "863", "IBM863"},
    {5, "PC865", "865", "IBM865"},
    {11, "PC851", "851", "IBM851"},
    {13, "PC857", "857", "IBM857"},
    {14, "PC737", "737", "CP737"},
    {15, "ISO8859-7", "8859-7", "ISO-8859-7"},
    {16, "WPC1252", "1252", "CP1252"},
    {17, "PC866", "866", "IBM866"},
    {18, "PC852", "852", "IBM852"},
    {19, "PC858", "858", "IBM858"},
    {33, "WPC775", "775", "IBM775"},
    {34, "PC855", "855", "IBM855"},
    {35, "PC861", "861", "IBM861"},
    {36, "PC862", "862", "IBM862"},
    {37, "PC864", "864", "IBM864"},
    {38, "PC869", "869", "IBM869"},
    {39, "ISO8859-2", "8859-2", "ISO-8859-2"},
    {40, "ISO8859-15", "8859-15", "ISO-8859-15"},
    {44, "PC1125", "1125", "CP1125"},
    {45, "WPC1250", "1250", "CP1250"},
    {46, "WPC1251", "1251", "CP1251"},
    {47, "WPC1253", "1253", "CP1253"},
    {48, "WPC1254", "1254", "CP1254"},
    {49, "WPC1255", "1255", "CP1255"},
    {50, "WPC1256", "1256", "CP1256"},
    {51, "WPC1257", "1257", "CP1257"},
    {52, "WPC1258", "1258", "CP1258"},
    {53, "KZ-1048", "1048", "RK1048"},
    // Tables label printers take by name that ESC t has no number for.
    {-1, "ISO8859-1", "8859-1", "ISO-8859-1"},
    {-1, "ISO8859-3", "8859-3", "ISO-8859-3"},
    {-1, "ISO8859-4", "8859-4", "ISO-8859-4"},
    {-1, "ISO8859-5", "8859-5", "ISO-8859-5"},
    {-1, "ISO8859-6", "8859-6", "ISO-8859-6"},
    {-1, "ISO8859-8", "8859-8", "ISO-8859-8"},
    {-1, "ISO8859-9", "8859-9", "ISO-8859-9"},
    {-1, "ISO8859-10", "8859-10", "ISO-8859-10"},
    {-1, "ISO8859-11", "8859-11", "ISO-8859-11"},
    {-1, "ISO8859-13", "8859-13", "ISO-8859-13"},
    {-1, "ISO8859-14", "8859-14", "ISO-8859-14"},
    {-1, "ISO8859-16", "8859-16", "ISO-8859-16"},
    {-1, "PC874", "874", "CP874"},
};

// Characters the printers' tables add to iconv's: Epson's PC857 carries
// the euro sign at D5, which IBM's original page left empty.
struct TAddition {
  int EscPos;
  uint8_t Byte;
  uint32_t Code;
};
const TAddition kAdditions[] = {{13, 0xD5, 0x20AC}};

// One byte through iconv; 0 when it is no printable character (unmapped,
// or a C1 control of the ISO tables). Stateful converters (CP1255, CP1258
// hold a base letter back for a combining mark) are flushed.
uint32_t IconvByte(iconv_t ACd, uint8_t AByte) {
  char in[1] = {static_cast<char>(AByte)};
  unsigned char out[16] = {};
  char* ip = in;
  char* op = reinterpret_cast<char*>(out);
  size_t il = 1, ol = sizeof out;
  iconv(ACd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(ACd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) return 0;
  iconv(ACd, nullptr, nullptr, &op, &ol);
  if (sizeof out - ol < 4) return 0;
  const uint32_t c = static_cast<uint32_t>(out[0]) | (static_cast<uint32_t>(out[1]) << 8) |
                     (static_cast<uint32_t>(out[2]) << 16) | (static_cast<uint32_t>(out[3]) << 24);
  return c >= 0x80 && c < 0xA0 ? 0 : c;
}

std::vector<TCodePage> BuildCodePages() {
  std::vector<TCodePage> pages;
  for (const TTableRow& row : kRows) {
    TCodePage p;
    p.EscPos = row.EscPos;
    p.Name = row.Name;
    p.Tspl = row.Tspl;
    if (!row.Iconv) {
      for (int i = 0; i < 32; ++i) {
        p.High[i] = kKatakanaGraphics[i];
        p.High[0x60 + i] = kKatakanaSymbols[i];
      }
      p.High[0x20] = 0x20;  // A0 prints blank
      for (int i = 0xA1; i <= 0xDF; ++i) p.High[i - 0x80] = 0xFF61 + (i - 0xA1);
      pages.push_back(p);
      continue;
    }
    iconv_t cd = iconv_open("UTF-32LE", row.Iconv);
    if (cd == reinterpret_cast<iconv_t>(-1)) continue;
    for (int b = 0x80; b <= 0xFF; ++b) p.High[b - 0x80] = IconvByte(cd, static_cast<uint8_t>(b));
    iconv_close(cd);
    for (const TAddition& a : kAdditions)
      if (a.EscPos == p.EscPos && p.High[a.Byte - 0x80] == 0) p.High[a.Byte - 0x80] = a.Code;
    pages.push_back(p);
  }
  return pages;
}

struct TInternational {
  int N;
  const char* Name;
  // The characters at # $ @ [ \ ] ^ ` { | } ~.
  uint32_t Chars[12];
};

const uint8_t kVaryingBytes[12] = {'#', '$', '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'};

// Epson's international character sets (ESC R n).
const TInternational kSets[] = {
    {0, "USA", {'#', '$', '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'}},
    {1, "France", {'#', '$', 0xE0, 0xB0, 0xE7, 0xA7, '^', '`', 0xE9, 0xF9, 0xE8, 0xA8}},
    {2, "Germany", {'#', '$', 0xA7, 0xC4, 0xD6, 0xDC, '^', '`', 0xE4, 0xF6, 0xFC, 0xDF}},
    {3, "UK", {0xA3, '$', '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'}},
    {4, "Denmark I", {'#', '$', '@', 0xC6, 0xD8, 0xC5, '^', '`', 0xE6, 0xF8, 0xE5, '~'}},
    {5, "Sweden", {'#', 0xA4, 0xC9, 0xC4, 0xD6, 0xC5, 0xDC, 0xE9, 0xE4, 0xF6, 0xE5, 0xFC}},
    {6, "Italy", {'#', '$', '@', 0xB0, '\\', 0xE9, '^', 0xF9, 0xE0, 0xF2, 0xE8, 0xEC}},
    {7, "Spain I", {0x20A7, '$', '@', 0xA1, 0xD1, 0xBF, '^', '`', 0xA8, 0xF1, '}', '~'}},
    {8, "Japan", {'#', '$', '@', '[', 0xA5, ']', '^', '`', '{', '|', '}', '~'}},
    {9, "Norway", {'#', 0xA4, 0xC9, 0xC6, 0xD8, 0xC5, 0xDC, 0xE9, 0xE6, 0xF8, 0xE5, 0xFC}},
    {10, "Denmark II", {'#', '$', 0xC9, 0xC6, 0xD8, 0xC5, 0xDC, 0xE9, 0xE6, 0xF8, 0xE5, 0xFC}},
    {11, "Spain II", {'#', '$', 0xE1, 0xA1, 0xD1, 0xBF, 0xE9, '`', 0xED, 0xF1, 0xF3, 0xFA}},
    {12, "Latin America", {'#', '$', 0xE1, 0xA1, 0xD1, 0xBF, 0xE9, 0xFC, 0xED, 0xF1, 0xF3, 0xFA}},
    {13, "Korea", {'#', '$', '@', '[', 0x20A9, ']', '^', '`', '{', '|', '}', '~'}},
    {14,
     "Slovenia/Croatia",
     {'#', '$', 0x17D, 0x160, 0x110, 0x106, 0x10C, 0x17E, 0x161, 0x111, 0x107, 0x10D}},
    {15, "China", {'#', 0xA5, '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'}},
    {16, "Vietnam", {'#', 0x20AB, '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'}},
    {17, "Arabia", {'#', '$', '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'}},
};

const TInternational* FindSet(int AN) {
  for (const TInternational& s : kSets)
    if (s.N == AN) return &s;
  return nullptr;
}

}  // namespace

const std::vector<TCodePage>& CodePages() {
  static const std::vector<TCodePage> pages = BuildCodePages();
  return pages;
}

const TCodePage* FindEscPosCodePage(int AN) {
  if (AN < 0) return nullptr;
  for (const TCodePage& p : CodePages())
    if (p.EscPos == AN) return &p;
  return nullptr;
}

const TCodePage* FindTsplCodePage(const std::string& AName) {
  for (const TCodePage& p : CodePages())
    if (!p.Tspl.empty() && p.Tspl == AName) return &p;
  return nullptr;
}

const TCodePage& DefaultCodePage() { return CodePages().front(); }

const char* InternationalSetName(int AN) {
  const TInternational* s = FindSet(AN);
  return s ? s->Name : nullptr;
}

uint32_t InternationalChar(int AN, uint8_t AByte) {
  if (AN == 0 || AByte >= 0x80) return AByte;
  const TInternational* s = FindSet(AN);
  if (!s) return AByte;
  for (int i = 0; i < 12; ++i)
    if (kVaryingBytes[i] == AByte) return s->Chars[i];
  return AByte;
}

TDecodedChar DecodeText(const TTextState& AState, const uint8_t* AData, size_t ASize) {
  const uint8_t b = AData[0];
  if (AState.Charset == csUtf8) return DecodePrinterChar(csUtf8, AData, ASize, false);
  TDecodedChar d;
  if (b < 0x80) {
    d.Code = InternationalChar(AState.International, b);
    return d;
  }
  if (AState.ChineseMode) return DecodePrinterChar(csGbk, AData, ASize, true);
  const TCodePage& page = AState.CodePage ? *AState.CodePage : DefaultCodePage();
  d.Code = page.High[b - 0x80];
  if (d.Code == 0) {
    d.Code = 0xFFFD;
    d.Valid = false;
  }
  d.Wide = false;
  return d;
}

std::string TextToUtf8(const TTextState& AState, const uint8_t* AData, size_t ASize) {
  std::string s;
  size_t i = 0;
  while (i < ASize) {
    const TDecodedChar d = DecodeText(AState, AData + i, ASize - i);
    if (!d.Valid) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", AData[i]);
      s += hex;
    } else if (d.Code < 0x20 || d.Code == 0x7F) {
      s += '.';
    } else {
      s += CodePointToUtf8(d.Code);
    }
    i += d.Length;
  }
  return s;
}

std::string TextStateName(const TTextState& AState) {
  if (AState.Charset == csUtf8) return "UTF-8";
  if (AState.ChineseMode) return "GBK";
  return (AState.CodePage ? *AState.CodePage : DefaultCodePage()).Name;
}
