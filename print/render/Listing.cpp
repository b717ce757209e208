#include "Listing.h"

#include <algorithm>
#include <cstdio>

std::string HexBytes(const uint8_t* AData, size_t ASize) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string s;
  s.reserve(ASize * 3);
  for (size_t i = 0; i < ASize; ++i) {
    if (i) s += ' ';
    s += kHex[AData[i] >> 4];
    s += kHex[AData[i] & 15];
  }
  return s;
}

const char* ListingStatusText(TListingStatus AStatus) {
  switch (AStatus) {
    case lsNoVisibleEffect:
      return "accepted, no visible effect";
    case lsNotDrawn:
      return "not drawn here";
    default:
      return "";
  }
}

void TListing::Add(int AJob, const uint8_t* AJobData, size_t AOffset, size_t ALength, std::string AMnemonic,
                   std::string AArguments, TListingStatus AStatus) {
  TListingLine line;
  line.Job = AJob;
  line.Offset = AOffset;
  line.Length = ALength;
  const size_t shown = std::min(ALength, kListingBytes);
  line.Bytes.assign(AJobData + AOffset, AJobData + AOffset + shown);
  line.Mnemonic = std::move(AMnemonic);
  line.Arguments = std::move(AArguments);
  line.Status = AStatus;
  FLines.push_back(std::move(line));
}

std::string FormatListingLine(const TListingLine& ALine, bool AJobPrefix) {
  char offset[32];
  std::snprintf(offset, sizeof offset, "%06zX", ALine.Offset);
  std::string bytes = HexBytes(ALine.Bytes.data(), ALine.Bytes.size());
  if (ALine.Length > ALine.Bytes.size()) bytes += " ..";
  std::string s;
  if (AJobPrefix) s += std::to_string(ALine.Job + 1) + ":";
  s += offset;
  s += "  ";
  s += bytes;
  if (bytes.size() < 38) s.append(38 - bytes.size(), ' ');
  s += "  ";
  s += ALine.Mnemonic;
  if (!ALine.Arguments.empty()) {
    if (ALine.Mnemonic.size() < 10) s.append(10 - ALine.Mnemonic.size(), ' ');
    s += ' ';
    s += ALine.Arguments;
  }
  if (ALine.Status != lsDone) {
    s += "  [";
    s += ListingStatusText(ALine.Status);
    s += ']';
  }
  return s;
}

std::string FormatListing(const std::vector<TListingLine>& ALines) {
  bool several = false;
  for (const TListingLine& l : ALines) several = several || l.Job != 0;
  std::string s;
  for (const TListingLine& l : ALines) {
    s += FormatListingLine(l, several);
    s += '\n';
  }
  return s;
}
