// The envelope's one home: read with notes, re-addressed in place, told
// apart from other text; the printer's replies written and read back.
#include <gtest/gtest.h>

#include "PrintPresets.h"
#include "TaskEnvelope.h"

namespace {

TEST(TaskEnvelope, ReaddressingChangesOnlyTheValuesAsked) {
  const std::string seed = BuzzerEnvelope();
  struct TCase {
    const char* Name;
    std::optional<std::string> Dvsno, TaskId;
    std::string Expected;
  };
  auto replaced = [&](std::string AText, const std::string& AFrom, const std::string& ATo) {
    AText.replace(AText.find(AFrom), AFrom.size(), ATo);
    return AText;
  };
  const std::string fixedId = std::string("\"") + kPrintTaskId + "\"";
  const TCase cases[] = {
      {"nothing asked", std::nullopt, std::nullopt, seed},
      {"serial", std::string("SN1"), std::nullopt, replaced(seed, "\"xxx\"", "\"SN1\"")},
      {"serial to escape", std::string("S\"N\\\n"), std::nullopt,
       replaced(seed, "\"xxx\"", "\"S\\\"N\\\\\\n\"")},
      {"an empty serial is a value too", std::string(), std::nullopt, replaced(seed, "\"xxx\"", "\"\"")},
      {"task id", std::nullopt, std::string("ID-1"), replaced(seed, fixedId, "\"ID-1\"")},
      {"both", std::string("SN1"), std::string("ID-1"),
       replaced(replaced(seed, "\"xxx\"", "\"SN1\""), fixedId, "\"ID-1\"")},
  };
  for (const TCase& c : cases) EXPECT_EQ(ReaddressEnvelope(seed, c.Dvsno, c.TaskId), c.Expected) << c.Name;
  // Every entry's task id; text that is no JSON object stays as it is.
  const std::string two = "{\"dvsno\":\"a\",\"list\":[{\"task_id\":\"1\"},{\"task_id\":\"2\"}]}";
  EXPECT_EQ(ReaddressEnvelope(two, std::nullopt, std::string("X")),
            "{\"dvsno\":\"a\",\"list\":[{\"task_id\":\"X\"},{\"task_id\":\"X\"}]}");
  for (const std::string& other : {std::string("hello"), std::string("{\"dvsno\":"), std::string("[1]")})
    EXPECT_EQ(ReaddressEnvelope(other, std::string("SN"), std::string("ID")), other);
}

TEST(TaskEnvelope, APrintTaskAtAGlance) {
  const struct {
    std::string Text;
    bool PrintTask;
  } cases[] = {
      {BuzzerEnvelope(), true},
      {"\xEF\xBB\xBF" + BuzzerEnvelope(), true},
      {"{\"kind\":\"PRINT_TASK\"}", true},
      {"{\"kind\":\"PRINT_TASK_DONE\"}", false},
      {"{\"kind\":[\"PRINT_TASK\"]}", false},
      {"PRINT_TASK", false},
      {"{\"kind\":\"PRINT_TASK\",}", false},
      {"[{\"kind\":\"PRINT_TASK\"}]", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPrintTaskText(c.Text), c.PrintTask) << c.Text;
}

TEST(TaskEnvelope, ReadingKeepsGoingAfterTheFirstRefusal) {
  // Three problems: the printer answers with the first, lint lists all.
  const std::string text =
      "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK\",\"count\":\"3\",\"list\":["
      "{\"task_id\":\"A\",\"usbidx\":\"0\",\"file_size\":\"8\",\"target_file\":\"G0IDAQAAAAA=\"},"
      "{\"task_id\":\"B\",\"file_size\":\"3\",\"target_file\":\"G0I\"}]}";
  const TEnvelopeRead read = ReadTaskEnvelope(text);
  EXPECT_EQ(read.Refusal, trCountMismatch);
  EXPECT_EQ(read.Reason, "not a valid envelope: count 3 but 2 entries in list");
  ASSERT_EQ(read.Entries.size(), 2u);
  EXPECT_EQ(read.Entries[0].TaskId, "A");
  EXPECT_EQ(read.Entries[0].Refusal, trFileSizeMismatch);
  EXPECT_TRUE(read.Entries[0].Decoded);
  EXPECT_EQ(read.Entries[0].Bytes, (std::vector<uint8_t>{0x1B, 0x42, 0x03, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(read.Entries[1].Refusal, trBadBase64);
  EXPECT_FALSE(read.Entries[1].Decoded);
  std::vector<TTaskRefusal> noted;
  bool usbidxAdvice = false;
  for (const TEnvelopeNote& n : read.Notes) {
    if (n.Refusal != trNone) noted.push_back(n.Refusal);
    usbidxAdvice =
        usbidxAdvice || (n.Refusal == trNone && n.Entry == 1 && n.Text.find("usbidx") != std::string::npos);
  }
  EXPECT_EQ(noted, (std::vector<TTaskRefusal>{trCountMismatch, trFileSizeMismatch, trBadBase64}));
  EXPECT_TRUE(usbidxAdvice);
  // Told the printer's serial, another dvsno is one more refusal.
  TEnvelopeReadOptions options;
  options.Serial = "SN2";
  EXPECT_EQ(ReadTaskEnvelope(BuzzerEnvelope(), options).Refusal, trWrongPrinter);
}

TEST(TaskReply, WrittenAndReadBack) {
  const TTaskReply cases[] = {
      {"SN1", "A", "1", ""},
      {"SN\"1", "A\\B", "4", "file_size 8 is not the length of target_file (12)"},
      {"SN1", "C", "duplicate", "task C was printed before"},
      {"SN1", "D", "7", "error   job 1@000018 line\nbreak \xE4\xB8\xAD"},
  };
  for (const TTaskReply& c : cases) {
    const std::string text = WriteTaskDoneReply(c);
    EXPECT_EQ(text.find("\"reason\"") != std::string::npos, c.Status != kJobPrinted) << text;
    const TReadReply back = ReadPrinterReply(text);
    ASSERT_EQ(back.Kind, rkTaskDone) << text;
    EXPECT_EQ(back.Done.Dvsno, c.Dvsno);
    EXPECT_EQ(back.Done.TaskId, c.TaskId);
    EXPECT_EQ(back.Done.Status, c.Status);
    EXPECT_EQ(back.Done.Reason, c.Reason);
  }
  EXPECT_TRUE(ReadPrinterReply(WritePrinterStatus("SN1", true)).Online);
  EXPECT_TRUE(ReadPrinterReply(WritePrinterStatus("SN1", false)).Offline);
  EXPECT_EQ(ReadPrinterReply("not json").Kind, rkNotJson);
  EXPECT_EQ(ReadPrinterReply("{\"kind\":\"PRINT_TASK_DONE\"}").Kind, rkUnknown);
  EXPECT_EQ(ReadPrinterReply("{\"kind\":\"PRINT_TASK_DONE\",\"task_id\":\"A\"}").Done.Status, "?");
}

}  // namespace
