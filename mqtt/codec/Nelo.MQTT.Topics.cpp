#include "Nelo.MQTT.Topics.h"

#include <cstdint>

namespace {
// Well-formed UTF-8 as MQTT 3.1.1 requires of topics: no overlong forms, no
// surrogates, nothing above U+10FFFF, and no U+0000.
bool IsValidMqttUtf8(const std::string& AText) {
  const auto* p = reinterpret_cast<const unsigned char*>(AText.data());
  const std::size_t n = AText.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    uint32_t code;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char d = p[i + static_cast<std::size_t>(k)];
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (code < kMin[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}
}  // namespace

bool TNeloMQTTTopic::ContainsMultiLevelWildcardCharacter(const std::string& ATopicFilter) {
  return ATopicFilter.find('#') != std::string::npos;
}

bool TNeloMQTTTopic::ContainsSingleLevelWildcardCharacter(const std::string& ATopicFilter) {
  return ATopicFilter.find('+') != std::string::npos;
}

bool TNeloMQTTTopic::ContainsWildcardCharacter(const std::string& ATopicFilter) {
  return ContainsMultiLevelWildcardCharacter(ATopicFilter) ||
         ContainsSingleLevelWildcardCharacter(ATopicFilter);
}

bool TNeloMQTTTopic::ValidateTopicFilter(const std::string& ATopicFilter) {
  const size_t L = ATopicFilter.size();
  if (L == 0 || !IsValidMqttUtf8(ATopicFilter)) return false;
  if (ContainsMultiLevelWildcardCharacter(ATopicFilter) && L > 1) {
    if (ATopicFilter[L - 1] != '#' || ATopicFilter[L - 2] != '/') return false;
  }
  if (!ContainsSingleLevelWildcardCharacter(ATopicFilter)) return true;
  if (L == 1) return true;
  for (size_t p = 0; p < L; ++p) {
    if (ATopicFilter[p] != '+') continue;
    if (p > 0 && ATopicFilter[p - 1] != '/') return false;
    if (p + 1 < L && ATopicFilter[p + 1] != '/') return false;
  }
  return true;
}

bool TNeloMQTTTopic::ValidateTopicName(const std::string& ATopicName) {
  return !ATopicName.empty() && !ContainsWildcardCharacter(ATopicName) && IsValidMqttUtf8(ATopicName);
}
