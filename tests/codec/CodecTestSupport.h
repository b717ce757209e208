// Small helpers for the codec suites: hex text <-> bytes.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>

#include "Nelo.MQTT.Global.h"

// "10 0F 00 04" -> {0x10, 0x0F, 0x00, 0x04}; blanks are ignored.
inline TNeloMQTTBytes Hex(const std::string& AText) {
  TNeloMQTTBytes result;
  int high = -1;
  for (char c : AText) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int nibble = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (high < 0) {
      high = nibble;
    } else {
      result.push_back(static_cast<uint8_t>(high * 16 + nibble));
      high = -1;
    }
  }
  return result;
}

inline std::string ToHex(const TNeloMQTTBytes& ABytes) {
  std::string result;
  char buffer[4];
  for (size_t i = 0; i < ABytes.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X", ABytes[i]);
    if (i) result += ' ';
    result += buffer;
  }
  return result;
}

inline TNeloMQTTBytes Text(const std::string& AText) { return TNeloMQTTBytes(AText.begin(), AText.end()); }
