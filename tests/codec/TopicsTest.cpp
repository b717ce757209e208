#include <gtest/gtest.h>

#include "Nelo.MQTT.Topics.h"

namespace {

TEST(TopicFilter, Validation) {
  struct Case {
    const char* Filter;
    bool Valid;
  };
  const Case kCases[] = {
      {"#", true},     {"a/#", true},          {"/#", true},
      {"a#", false},   {"a/#/b", false},       {"#/+", false},
      {"+", true},     {"+/a", true},          {"+/+", true},
      {"+/#", true},   {"/+", true},           {"a/+", true},
      {"a/+/b", true}, {"a+", false},          {"a/+b", false},
      {"+a", false},   {"a//b", true},         {"", false},
      {"a/#/#", true}, {"#a/#", true},         {"##", false},
      {"a/b", true},   {"++", false},          {"a/++/b", false},
      {"/", true},     {"+/\xC3\xA9/+", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Filter);
    EXPECT_EQ(TNeloMQTTTopic::ValidateTopicFilter(c.Filter), c.Valid);
  }
}

TEST(TopicName, Validation) {
  struct Case {
    const char* Name;
    bool Valid;
  };
  const Case kCases[] = {{"a/b", true},  {"/", true},  {"a//b", true}, {"", false},
                         {"a/+", false}, {"#", false}, {"a/#", false}, {"\xE4\xB8\xAD/x", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TNeloMQTTTopic::ValidateTopicName(c.Name), c.Valid);
  }
}

TEST(TopicWildcards, Detection) {
  EXPECT_TRUE(TNeloMQTTTopic::ContainsMultiLevelWildcardCharacter("a/#"));
  EXPECT_FALSE(TNeloMQTTTopic::ContainsMultiLevelWildcardCharacter("a/+"));
  EXPECT_TRUE(TNeloMQTTTopic::ContainsSingleLevelWildcardCharacter("a+b"));
  EXPECT_FALSE(TNeloMQTTTopic::ContainsSingleLevelWildcardCharacter("a#"));
  EXPECT_TRUE(TNeloMQTTTopic::ContainsWildcardCharacter("x#"));
  EXPECT_TRUE(TNeloMQTTTopic::ContainsWildcardCharacter("x+"));
  EXPECT_FALSE(TNeloMQTTTopic::ContainsWildcardCharacter("x/y"));
}

}  // namespace
