// The fleet's serials, shards and topics.
#include <gtest/gtest.h>

#include "Fleet.h"

namespace {

TEST(FleetTest, SerialsShardsAndTopics) {
  TFleetOptions o;
  o.Count = 10;
  o.SerialFormat = "SN%04d";
  const auto all = FleetSerials(o);
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all.front(), "SN0001");
  EXPECT_EQ(all.back(), "SN0010");
  // The shards of any split cover every number exactly once.
  for (long count : {1L, 7L, 10L, 1000L, 1001L}) {
    for (long shards : {1L, 2L, 3L, 7L}) {
      if (shards > count) continue;
      long next = 1;
      for (long k = 1; k <= shards; ++k) {
        long first = 0, last = 0;
        ShardRange(count, k, shards, first, last);
        EXPECT_EQ(first, next) << count << " " << k << "/" << shards;
        EXPECT_GE(last - first + 1, count / shards);
        EXPECT_LE(last - first + 1, count / shards + 1);
        next = last + 1;
      }
      EXPECT_EQ(next, count + 1);
    }
  }
  o.ShardIndex = 2;
  o.ShardCount = 3;
  EXPECT_EQ(FleetSerials(o), (std::vector<std::string>{"SN0004", "SN0005", "SN0006"}));

  for (const char* bad : {"SN", "SN%s", "SN%d%d", "SN%n", "%*d", "SN%ld", "%1000d"}) {
    TFleetOptions b;
    b.Count = 2;
    b.SerialFormat = bad;
    EXPECT_THROW(FleetSerials(b), ECliUsage) << bad;
  }
  TFleetOptions percent;
  percent.Count = 1;
  percent.SerialFormat = "100%%-%x";
  EXPECT_EQ(FleetSerials(percent), (std::vector<std::string>{"100%-1"}));
  TFleetOptions both;
  both.Serial = "A";
  both.Count = 2;
  both.SerialFormat = "%d";
  EXPECT_THROW(FleetSerials(both), ECliUsage);

  EXPECT_EQ(ExpandSerial("p/{serial}/jobs/{serial}", "S1"), "p/S1/jobs/S1");
  EXPECT_EQ(SerialWildcardFilter("p/{serial}/replies"), "p/+/replies");
  EXPECT_EQ(SerialWildcardFilter("{serial}"), "+");
  EXPECT_EQ(SerialWildcardFilter("p/r-{serial}"), "");
  EXPECT_EQ(SerialWildcardFilter("p/all"), "p/all");
}

}  // namespace
