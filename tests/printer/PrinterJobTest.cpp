// The virtual printer's job (read, check, answer), the envelope addressing,
// and the JSON reader they stand on.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "Json.h"
#include "PrintPresets.h"
#include "PrintTask.h"
#include "PrinterJob.h"
#include "TaskEnvelope.h"
#include "TempDir.h"

namespace {

using tessiva::test::ReadWholeFile;
using tessiva::test::TTempDir;

const std::string kId = "0F8FAD5B-D9CB-469F-A165-70867728950E";

std::string Addressed(const std::string& AEnvelope, const std::string& ADvsno, const std::string& AId = kId) {
  return TTaskEnvelopeTemplate(AEnvelope).Make(ADvsno, {AId});
}

// A one-entry envelope with the given members written as they stand.
std::string Envelope(const std::string& ADvsno, const std::string& ACount, const std::string& AFileSize,
                     const std::string& ATarget, const std::string& AKind = "PRINT_TASK") {
  return "{\"dvsno\":\"" + ADvsno + "\",\"kind\":\"" + AKind + "\",\"count\":\"" + ACount +
         "\",\"list\":[{\"task_id\":\"" + kId + "\",\"usbidx\":\"0\",\"file_size\":\"" + AFileSize +
         "\",\"target_file\":\"" + ATarget + "\"}]}";
}

TEST(PrinterJobTest, PrintsAPresetAndAnswersStatusOne) {
  TPrinterJobOptions options;
  options.Serial = "SN0001";
  const auto results = RunPrinterJob(Addressed(BuzzerEnvelope(), "SN0001"), options);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].TaskId, kId);
  EXPECT_EQ(results[0].Status, "1");
  EXPECT_EQ(results[0].Reason, "");
  EXPECT_EQ(results[0].Language, "ESC/POS");
  EXPECT_EQ(results[0].Pages, 1);
  EXPECT_EQ(
      PrintTaskDoneReply("SN0001", results[0]),
      "{\"dvsno\":\"SN0001\",\"kind\":\"PRINT_TASK_DONE\",\"task_id\":\"" + kId + "\",\"status\":\"1\"}");

  const auto label = RunPrinterJob(Addressed(SampleEnvelope(1), "SN0001"), options);
  ASSERT_EQ(label.size(), 1u);
  EXPECT_EQ(label[0].Status, "1");
  EXPECT_EQ(label[0].Language, "TSPL");
  EXPECT_EQ(RunPrinterJob(Addressed(SampleEnvelope(0), "SN0001"), options)[0].Language, "ESC/POS");
}

TEST(PrinterJobTest, EveryRefusalHasItsStatusAndAReason) {
  const std::string buzzer = "G0IDAQAAAAA=";
  // Just over 1 MiB of commands, with a matching file_size.
  const std::string big = EncodePrintBase64(TPrintBytes(kMaxJobBytes + 3, 0x1B));
  struct TCase {
    const char* Name;
    std::string Message;
    std::string Status;
    std::string ReasonPart;
    std::string TaskId;
  };
  const TCase cases[] = {
      {"not JSON", "{\"dvsno\":", kJobNotAnEnvelope, "not a valid envelope", ""},
      {"not an object", "[1,2]", kJobNotAnEnvelope, "not a JSON object", ""},
      {"trailing text", Envelope("SN1", "1", "12", buzzer) + "x", kJobNotAnEnvelope, "not a valid envelope",
       ""},
      {"another kind", Envelope("SN1", "1", "12", buzzer, "PRINT_DONE"), kJobNotAnEnvelope, "kind", kId},
      {"count does not match list", Envelope("SN1", "2", "12", buzzer), kJobNotAnEnvelope, "count 2", kId},
      {"count not a number", Envelope("SN1", "one", "12", buzzer), kJobNotAnEnvelope, "no count", kId},
      {"empty list", "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK\",\"count\":\"0\",\"list\":[]}",
       kJobNotAnEnvelope, "no list", ""},
      {"no task id",
       "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"file_size\":\"12\",\"target_"
       "file\":\"" +
           buzzer + "\"}]}",
       kJobNotAnEnvelope, "no task_id", ""},
      {"another printer's dvsno", Envelope("SN2", "1", "12", buzzer), kJobWrongPrinter, "dvsno SN2", kId},
      {"placeholder dvsno", Addressed(BuzzerEnvelope(), "xxx"), kJobWrongPrinter, "not this printer", kId},
      {"file_size too small", Envelope("SN1", "1", "11", buzzer), kJobBadFileSize, "file_size 11", kId},
      {"file_size counts bytes, not characters", Envelope("SN1", "1", "8", buzzer), kJobBadFileSize, "(12)",
       kId},
      {"file_size missing",
       "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"task_id\":\"" + kId +
           "\",\"target_file\":\"" + buzzer + "\"}]}",
       kJobNotAnEnvelope, "no file_size", kId},
      {"Base64 with a bad character", Envelope("SN1", "1", "12", "G0IDAQAA*AA="), kJobBadBase64, "Base64",
       kId},
      {"Base64 cut short", Envelope("SN1", "1", "11", "G0IDAQAAAAA"), kJobBadBase64, "Base64", kId},
      {"over 1 MB", Envelope("SN1", "1", std::to_string(big.size()), big), kJobTooLarge, "over 1 MB", kId},
  };
  TPrinterJobOptions options;
  options.Serial = "SN1";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto results = RunPrinterJob(c.Message, options);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Status, c.Status);
    EXPECT_EQ(results[0].TaskId, c.TaskId);
    EXPECT_NE(results[0].Reason.find(c.ReasonPart), std::string::npos) << results[0].Reason;
    EXPECT_EQ(results[0].Pages, 0);
    // The reply carries the reason, and is JSON.
    const TJsonValue reply = ParseJson(PrintTaskDoneReply("SN1", results[0]));
    ASSERT_NE(reply.Member("reason"), nullptr);
    EXPECT_EQ(reply.Member("reason")->Text, results[0].Reason);
  }
  // Exactly 1 MiB is still printed.
  const std::string limit = EncodePrintBase64(TPrintBytes(kMaxJobBytes, 0x1B));
  EXPECT_EQ(RunPrinterJob(Envelope("SN1", "1", std::to_string(limit.size()), limit), options)[0].Status, "1");
}

TEST(PrinterJobTest, EntriesAreAnsweredOneByOneAndRepeatsAreNotPrinted) {
  const std::string entry =
      "{\"task_id\":\"%\",\"usbidx\":\"0\",\"file_size\":\"12\",\"target_file\":\"G0IDAQAAAAA=\"}";
  auto withId = [&](const std::string& AId) {
    std::string e = entry;
    e.replace(e.find('%'), 1, AId);
    return e;
  };
  const std::string message = "{\"dvsno\":\"P\",\"kind\":\"PRINT_TASK\",\"count\":\"3\",\"list\":[" +
                              withId("A") + "," + withId("B") +
                              ",{\"task_id\":\"C\",\"file_size\":\"3\",\"target_file\":\"G0I=\"}]}";
  std::set<std::string> seen;
  std::vector<std::string> asked;
  TPrinterJobOptions options;
  options.Serial = "P";
  options.SeenBefore = [&](const std::string& AId) {
    asked.push_back(AId);
    return !seen.insert(AId).second;
  };
  auto first = RunPrinterJob(message, options);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].TaskId, "A");
  EXPECT_EQ(first[0].Status, "1");
  EXPECT_EQ(first[1].Status, "1");
  EXPECT_EQ(first[2].TaskId, "C");
  EXPECT_EQ(first[2].Status, kJobBadFileSize);
  auto again = RunPrinterJob(message, options);
  ASSERT_EQ(again.size(), 3u);
  for (const auto& r : again) {
    EXPECT_EQ(r.Status, kJobDuplicate) << r.TaskId;
    EXPECT_EQ(r.Pages, 0);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"A", "B", "C", "A", "B", "C"}));
  // A refused envelope never reaches the memory of task ids.
  asked.clear();
  options.Serial = "Q";
  EXPECT_EQ(RunPrinterJob(message, options)[0].Status, kJobWrongPrinter);
  EXPECT_TRUE(asked.empty());
}

// The renderer decides: a job with an error finding is refused with status 7
// and the finding as its reason; a printed job's pages go to
// OUT/SERIAL/TASK_ID.png, and names from the message never leave OUT.
TEST(PrinterJobTest, TheRendererRefusesBadJobsAndDrawsThePages) {
  TTempDir out;
  TPrinterJobOptions options;
  options.Serial = "SN1";
  options.OutDir = out.Path();
  // TSPL without PRINT prints nothing: an error.
  const std::string noPrint =
      EncodePrintBase64(TPrintBytes{'S', 'I', 'Z', 'E', ' ', '4',  '0',  ' ', 'm', 'm', ',',  ' ',
                                    '2', '0', ' ', 'm', 'm', '\r', '\n', 'C', 'L', 'S', '\r', '\n'});
  const auto refused =
      RunPrinterJob(Envelope("SN1", "1", std::to_string(noPrint.size()), noPrint), options).at(0);
  EXPECT_EQ(refused.Status, kJobLintError);
  EXPECT_NE(refused.Reason.find("PRINT"), std::string::npos) << refused.Reason;
  EXPECT_EQ(refused.Language, "");

  const auto receipt = RunPrinterJob(Addressed(SampleEnvelope(0), "SN1"), options).at(0);
  EXPECT_EQ(receipt.Status, "1") << receipt.Reason;
  EXPECT_EQ(receipt.Language, "ESC/POS");
  ASSERT_GE(receipt.Pages, 1);
  const std::string png = ReadWholeFile(out.File("SN1/" + kId + ".png"));
  EXPECT_EQ(png.substr(1, 3), "PNG");

  const auto label = RunPrinterJob(Addressed(SampleEnvelope(1), "SN1", "../../escape"), options).at(0);
  EXPECT_EQ(label.Status, "1") << label.Reason;
  EXPECT_EQ(label.Language, "TSPL");
  EXPECT_GE(label.Pages, 1);
  EXPECT_TRUE(std::filesystem::exists(out.File("SN1/.._.._escape.png")) ||
              std::filesystem::exists(out.File("SN1/_.._.._escape.png")));
  EXPECT_FALSE(std::filesystem::exists(out.File("../escape.png")));
}

TEST(TaskEnvelopeTest, OnlyTheSerialAndTheTaskIdChange) {
  const std::string original = BuzzerEnvelope();
  const std::string made = Addressed(original, "SN\"1", "ID-1");
  std::string expected = original;
  expected.replace(expected.find("\"xxx\""), 5, "\"SN\\\"1\"");
  expected.replace(expected.find(std::string("\"") + kPrintTaskId + "\""),
                   std::string(kPrintTaskId).size() + 2, "\"ID-1\"");
  EXPECT_EQ(made, expected);
  EXPECT_EQ(ParseJson(made).Member("dvsno")->Text, "SN\"1");

  std::set<std::string> ids;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = NewTaskId();
    ASSERT_EQ(id.size(), 36u);
    for (std::size_t k = 0; k < id.size(); ++k) {
      if (k == 8 || k == 13 || k == 18 || k == 23)
        ASSERT_EQ(id[k], '-');
      else
        ASSERT_TRUE(std::isxdigit(static_cast<unsigned char>(id[k])) &&
                    !std::islower(static_cast<unsigned char>(id[k])))
            << id;
    }
    EXPECT_EQ(id[14], '4');
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 1000u);
  EXPECT_THROW(TTaskEnvelopeTemplate("{\"kind\":\"PRINT_TASK\"}"), std::runtime_error);
  EXPECT_THROW(TTaskEnvelopeTemplate("{\"dvsno\":\"x\",\"list\":[]}"), std::runtime_error);
}

TEST(JsonTest, StrictReadingAndQuoting) {
  const TJsonValue v = ParseJson(" {\"a\":[1,-2.5e3,true,false,null],\"s\":\"\\u00e9\\ud83d\\ude00\\n\"} ");
  ASSERT_TRUE(v.IsObject());
  EXPECT_EQ(v.Member("a")->Items.size(), 5u);
  EXPECT_EQ(v.Member("a")->Items[1].Text, "-2.5e3");
  EXPECT_EQ(v.Member("s")->Text, "\xC3\xA9\xF0\x9F\x98\x80\n");
  for (const char* bad : {"", "{", "{\"a\"}", "[1,]", "01", "\"\x01\"", "\"\\ud800\"", "tru", "{\"a\":1}}",
                          "'a'", "1.", "\"\\x\""}) {
    EXPECT_THROW(ParseJson(bad), EJsonError) << bad;
  }
  EXPECT_THROW(ParseJson(std::string(100, '[') + std::string(100, ']'), 64), EJsonError);
  EXPECT_NO_THROW(ParseJson(std::string(10, '[') + std::string(10, ']'), 64));
  const std::string tricky = "a\"b\\c\n\x01\xE4\xB8\xAD";
  EXPECT_EQ(ParseJson(JsonQuote(tricky)).Text, tricky);
}

}  // namespace
