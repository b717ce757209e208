// The character tables a printer ships: ESC/POS code pages (ESC t, with
// Epson's numbering), the international character sets of ESC R, TSPL's
// CODEPAGE names, and decoding a job's text bytes in the state a printer
// is in (code page, international set, Chinese mode, GBK or UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TextDrawing.h"

struct TCodePage {
  int EscPos = -1;   // ESC t n; -1 when ESC t has no number for it
  std::string Name;  // "PC437", "WPC1252", "ISO8859-2"
  std::string Tspl;  // TSPL CODEPAGE name ("437", "1252", "8859-2")
  // Bytes 80..FF as Unicode; 0 where the table has no character.
  uint32_t High[128] = {};
};

// Every table this machine can draw (the built-in PC437 and Katakana, the
// rest from iconv), in ESC t order, then the ISO 8859 tables ESC t has no
// number for.
const std::vector<TCodePage>& CodePages();
// Null when ESC t n selects no table we know.
const TCodePage* FindEscPosCodePage(int AN);
// TSPL's CODEPAGE value ("437", "1252", "8859-15"); null when unknown.
const TCodePage* FindTsplCodePage(const std::string& AName);
// PC437, the table of a printer that was told nothing else.
const TCodePage& DefaultCodePage();

// ESC R n: the set's name ("USA", "Germany"), null for an unknown n.
const char* InternationalSetName(int AN);
// The character an ASCII byte stands for in the international set AN
// (the twelve bytes # $ @ [ \ ] ^ ` { | } ~ vary; all others are ASCII).
uint32_t InternationalChar(int AN, uint8_t AByte);

// The state text bytes are decoded in.
struct TTextState {
  TCharset Charset = csGbk;
  bool ChineseMode = true;              // GBK pairs (FS &) instead of the code page
  const TCodePage* CodePage = nullptr;  // null: PC437
  int International = 0;                // ESC R
};

// One character at AData (ASize > 0). UTF-8 is decoded as UTF-8; GBK in
// Chinese mode as GBK pairs (ASCII below 80); otherwise every byte is one
// character of the code page. ASCII bytes take the international set. A
// byte the code page has no character for is invalid (U+FFFD).
TDecodedChar DecodeText(const TTextState& AState, const uint8_t* AData, size_t ASize);
// Text bytes as UTF-8 for a listing (invalid bytes as \xNN).
std::string TextToUtf8(const TTextState& AState, const uint8_t* AData, size_t ASize);
// "WPC1252", or "UTF-8" / "GBK" when the code page does not apply.
std::string TextStateName(const TTextState& AState);
