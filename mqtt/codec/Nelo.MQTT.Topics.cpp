#include "Nelo.MQTT.Topics.h"

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
  if (L == 0) return false;
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
  return !ATopicName.empty() && !ContainsWildcardCharacter(ATopicName);
}
