// The JSON message formatter on the worked examples and its edge cases.
#include <gtest/gtest.h>

#include <QStringList>

#include "f_main.h"

namespace {

struct TJsonCase {
  const char* Name;
  const char* Source;
  std::vector<const char*> Lines;  // the output, split at CR LF
};

QString Joined(const std::vector<const char*>& ALines) {
  QStringList l;
  for (const char* s : ALines) l << QString::fromUtf8(s);
  return l.join(QStringLiteral("\r\n"));
}

void PrintTo(const TJsonCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class FormatJsonTest : public ::testing::TestWithParam<TJsonCase> {};

TEST_P(FormatJsonTest, LaysOutTheSourceExactly) {
  const TJsonCase& c = GetParam();
  EXPECT_EQ(FormatJson(QStringLiteral("  "), QString::fromUtf8(c.Source)).toStdString(),
            Joined(c.Lines).toStdString());
}

const char* const kEnvelopeCompact =
    "{\"dvsno\":\"xxx\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"task_id\":\"C147956F-C688-40CB-"
    "B0C5-"
    "A68E9677AA41\",\"usbidx\":\"0\",\"file_size\":\"8\",\"target_file\":\"xxx\"}]}";
const char* const kEnvelopeLaidOut =
    "{\r\n    \"dvsno\":\"xxx\",\r\n    \"kind\":\"PRINT_TASK\",\r\n    \"count\":\"1\",\r\n    "
    "\"list\":[\r\n"
    "        {\r\n            \"task_id\":\"C147956F-C688-40CB-B0C5-A68E9677AA41\",\r\n            "
    "\"usbidx\":\"0\",\r\n"
    "            \"file_size\":\"8\",\r\n            \"target_file\":\"xxx\"\r\n            }\r\n    "
    "]\r\n}\r\n";
const std::vector<const char*> kEnvelopeFormatted = {
    "{",
    "  \"dvsno\": \"xxx\",",
    "  \"kind\": \"PRINT_TASK\",",
    "  \"count\": \"1\",",
    "  \"list\": [",
    "    {",
    "      \"task_id\": \"C147956F-C688-40CB-B0C5-A68E9677AA41\",",
    "      \"usbidx\": \"0\",",
    "      \"file_size\": \"8\",",
    "      \"target_file\": \"xxx\"",
    "    }",
    "  ]",
    "}"};

INSTANTIATE_TEST_SUITE_P(
    Examples, FormatJsonTest,
    ::testing::Values(
        TJsonCase{"CompactPrintTask", kEnvelopeCompact, kEnvelopeFormatted},
        TJsonCase{"LaidOutPrintTask", kEnvelopeLaidOut, kEnvelopeFormatted},
        TJsonCase{"TextBeforeBraceAndBareValues",
                  "ok {\"count\":1,\"list\":[1,2],\"usbidx\":true}",
                  {"ok {", "  \"count\": 1,", "  \"list\": [", "1,", "2", "  ],", "  \"usbidx\": true", "}"}},
        TJsonCase{"EmptyContainersAndSpaces",
                  "{\"list\": [ ], \"kind\" : { } }",
                  {"{", "  \"list\": [", "", "  ],", "  \"kind\": {", "", "  }", "}"}},
        TJsonCase{"TopLevelArray", "[1,{\"count\":2}]", {"[1,{", "  \"count\": 2", "}", "]"}},
        TJsonCase{"EscapesInStrings",
                  "{\"kind\":\"a\\\"b\",\"list\":\"c\\\\\"}",
                  {"{", "  \"kind\": \"a\\\"b\",", "  \"list\": \"c\\\\\"", "}"}},
        TJsonCase{"NoBraceOnlyLosesCrLfAndTabs", "a\tb\r\nc d\re\nf", {"abc d\re\nf"}},
        TJsonCase{"Empty", "", {""}}, TJsonCase{"EmptyObject", "{}", {"{", "", "}"}},
        TJsonCase{"TabInsideStringRemoved", "{\"k\":\"x\ty\"}", {"{", "  \"k\": \"xy\"", "}"}},
        TJsonCase{"LoneLfAtEndCopied", "{\"k\":1}\n", {"{", "  \"k\": 1", "}\n"}},
        TJsonCase{"CrTabLfInStringBecomesCrLf", "{\"k\":\"a\r\t\nb\"}", {"{", "  \"k\": \"a", "b\"", "}"}},
        TJsonCase{"SpacesInsideStringsKept", "{ \"a b\" : \"c  d\" }", {"{", "  \"a b\": \"c  d\"", "}"}},
        TJsonCase{"SpaceAfterBackslashDropped", "{\"k\":\"a\\ b\"}", {"{", "  \"k\": \"a\\b\"", "}"}},
        TJsonCase{"UnbalancedCloseDrivesLevelNegative",
                  "{}}{\"a\":[\"x\"]}",
                  {"{", "", "}", "}{", "\"a\": [", "  \"x\"", "]", "}"}},
        TJsonCase{"StringValuesInArraysIndented",
                  "{\"l\":[\"a\",{\"b\":\"c\"}]}",
                  {"{", "  \"l\": [", "    \"a\",", "    {", "      \"b\": \"c\"", "    }", "  ]", "}"}}),
    [](const ::testing::TestParamInfo<TJsonCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(FormatJson, IndentUnitIsRepeatedPerLevel) {
  EXPECT_EQ(FormatJson(QStringLiteral("\t"), QStringLiteral("{\"a\":{\"b\":1}}")),
            QStringLiteral("{\r\n\t\"a\": {\r\n\t\t\"b\": 1\r\n\t}\r\n}"));
}

}  // namespace

namespace {

TEST(FormatJsonBound, OutputPastTheCapIsCutWithAVisibleMark) {
  // Deep nesting makes the laid-out text grow with the square of the input:
  // 80 KB of brackets would lay out to some 1.6 billion characters.
  const QString deep = QStringLiteral("{\"a\":") + QString(40000, QLatin1Char('[')) +
                       QString(40000, QLatin1Char(']')) + QLatin1Char('}');
  const QString shown = FormatJson(QStringLiteral("  "), deep);
  const QString mark = QStringLiteral("\r\n") + FormatJsonCutMark();
  ASSERT_EQ(shown.size(), kFormatJsonCap + mark.size());
  EXPECT_TRUE(shown.endsWith(mark));
  EXPECT_TRUE(FormatJsonCutMark().contains(QString::number(kFormatJsonCap)));

  // Below the cap the text is the formatter's own; at the cap it is the same
  // text cut, wherever the cut falls (inside an indent, a line break, a string).
  const QString source = QStringLiteral("pre {\"k\":[[[{\"s\":\"a b\\\"c\"},2]]],\"e\":{ }}");
  const QString full = FormatJson(QStringLiteral("  "), source, 1 << 20);
  for (qsizetype cap = 0; cap <= full.size() + 1; ++cap) {
    const QString cut = FormatJson(QStringLiteral("  "), source, cap);
    if (cap >= full.size()) {
      EXPECT_EQ(cut, full) << cap;
    } else {
      EXPECT_EQ(cut, full.left(cap) + mark) << cap;
    }
  }
}

}  // namespace
