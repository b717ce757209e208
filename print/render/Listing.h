// The command listing of a job: one line per command, with its offset, its
// bytes, a mnemonic and its arguments in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What became of a listed command. Drawn or applied: the renderer did what
// the printer does. No visible effect: the printer takes it and nothing
// changes on paper (a buzzer, a sensor setting). Not drawn: the printer
// would print or change something the renderer does not show.
enum TListingStatus { lsDone, lsNoVisibleEffect, lsNotDrawn };

struct TListingLine {
  int Job = 0;                 // entry of the envelope's list (0 for raw bytes)
  size_t Offset = 0;           // of the command's first byte in the job
  size_t Length = 0;           // bytes the command takes
  std::vector<uint8_t> Bytes;  // the first bytes of the command (at most kListingBytes)
  std::string Mnemonic;        // "ESC a", "GS v 0", "TEXT", "?" for unknown bytes
  std::string Arguments;       // in words, e.g. "1 (centred)"
  TListingStatus Status = lsDone;
};

// "" for lsDone, "accepted, no visible effect", "not drawn here".
const char* ListingStatusText(TListingStatus AStatus);

// How many command bytes a listing line shows.
inline constexpr size_t kListingBytes = 12;

class TListing {
 public:
  void Add(int AJob, const uint8_t* AJobData, size_t AOffset, size_t ALength, std::string AMnemonic,
           std::string AArguments = std::string(), TListingStatus AStatus = lsDone);
  const std::vector<TListingLine>& Lines() const { return FLines; }
  std::vector<TListingLine>& Lines() { return FLines; }

 private:
  std::vector<TListingLine> FLines;
};

// "000012  1B 61 01            ESC a      1 (centred)"; a status other than
// lsDone follows in brackets ("... ESC B      buzzer ...  [accepted, no
// visible effect]"). With AJobPrefix the job number leads ("1:000012 ...")
// when the listing has several jobs.
std::string FormatListingLine(const TListingLine& ALine, bool AJobPrefix = false);
std::string FormatListing(const std::vector<TListingLine>& ALines);
// Bytes as hex pairs separated by spaces.
std::string HexBytes(const uint8_t* AData, size_t ASize);
