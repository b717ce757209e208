// Topic names (what a PUBLISH is sent to) and topic filters (what
// SUBSCRIBE and UNSUBSCRIBE name). '/' separates levels, '+' stands for one
// level, '#' for any number of trailing levels. Texts are UTF-8; as these
// three characters are ASCII, comparing bytes is comparing characters.
#pragma once

#include <string>

class TNeloMQTTTopic {
 public:
  TNeloMQTTTopic() = delete;

  static bool ContainsMultiLevelWildcardCharacter(const std::string& ATopicFilter);
  static bool ContainsSingleLevelWildcardCharacter(const std::string& ATopicFilter);
  static bool ContainsWildcardCharacter(const std::string& ATopicFilter);
  // Not empty; a '#' only as the last character and behind a '/' (or
  // alone); every '+' alone in its level. Only the last two characters are
  // checked for '#'.
  static bool ValidateTopicFilter(const std::string& ATopicFilter);
  // Not empty and free of '#' and '+'.
  static bool ValidateTopicName(const std::string& ATopicName);
};
