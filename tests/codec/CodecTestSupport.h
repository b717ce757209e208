// Small helpers for the codec suites: hex text <-> bytes.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>

#include "Nelo.MQTT.Global.h"

// "10 0F 00 04" -> {0x10, 0x0F, 0x00, 0x04}; blanks are ignored.
inline TNeloMQTTBytes Hex(const std::string& AText) {
  TNeloMQTTBytes LResult;
  int LHigh = -1;
  for (char c : AText) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int LNibble = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (LHigh < 0) {
      LHigh = LNibble;
    } else {
      LResult.push_back(static_cast<uint8_t>(LHigh * 16 + LNibble));
      LHigh = -1;
    }
  }
  return LResult;
}

inline std::string ToHex(const TNeloMQTTBytes& ABytes) {
  std::string LResult;
  char LBuffer[4];
  for (size_t i = 0; i < ABytes.size(); ++i) {
    std::snprintf(LBuffer, sizeof LBuffer, "%02X", ABytes[i]);
    if (i) LResult += ' ';
    LResult += LBuffer;
  }
  return LResult;
}

inline TNeloMQTTBytes Text(const std::string& AText) { return TNeloMQTTBytes(AText.begin(), AText.end()); }
