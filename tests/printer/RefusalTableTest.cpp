// One verdict: for every reason in the refusal table, the job that triggers
// it is an error finding of that reason in lint AND the virtual printer's
// refusal with the table's status; a clean job is neither.
#include <gtest/gtest.h>

#include <set>

#include "PrintPresets.h"
#include "PrinterJob.h"

namespace {

const std::string kId = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const std::string kBuzzer = "G0IDAQAAAAA=";

// A one-entry envelope from its head (dvsno, kind, count) and its entry.
std::string Envelope(const std::string& AHead, const std::string& AEntry) {
  return "{" + AHead + ",\"list\":[" + AEntry + "]}";
}
std::string Head(const std::string& ADvsno = "SN1", const std::string& ACount = "1",
                 const std::string& AKind = "PRINT_TASK") {
  std::string h = "\"kind\":\"" + AKind + "\",\"count\":\"" + ACount + "\"";
  if (!ADvsno.empty()) h = "\"dvsno\":\"" + ADvsno + "\"," + h;
  return h;
}
std::string Entry(const std::string& ATarget = kBuzzer, const std::string& AFileSize = "",
                  bool AWithTaskId = true, bool AWithTarget = true, bool AWithFileSize = true) {
  std::string e = "{";
  if (AWithTaskId) e += "\"task_id\":\"" + kId + "\",";
  e += "\"usbidx\":\"0\"";
  if (AWithFileSize)
    e += ",\"file_size\":\"" + (AFileSize.empty() ? std::to_string(ATarget.size()) : AFileSize) + "\"";
  if (AWithTarget) e += ",\"target_file\":\"" + ATarget + "\"";
  return e + "}";
}

struct TRefusalCase {
  TTaskRefusal Refusal;
  std::string Message;
};

std::vector<TRefusalCase> Cases() {
  const std::string good = Envelope(Head(), Entry());
  const std::string tsplNoPrint =
      EncodePrintBase64(TPrintBytes{'S', 'I', 'Z', 'E', ' ', '4',  '0',  ' ', 'm', 'm', ',',  ' ',
                                    '2', '0', ' ', 'm', 'm', '\r', '\n', 'C', 'L', 'S', '\r', '\n'});
  std::string padded = good;
  padded.insert(1, kMaxPrintTaskMessageBytes, ' ');
  return {
      {trMessageTooLarge, padded},
      {trByteOrderMark, "\xEF\xBB\xBF" + good},
      {trNotJson, good.substr(0, good.size() - 1)},
      {trNotAnObject, "[" + good + "]"},
      {trWrongKind, Envelope(Head("SN1", "1", "PRINT_DONE"), Entry())},
      {trWrongKind, Envelope("\"dvsno\":\"SN1\",\"count\":\"1\"", Entry())},
      {trNoDvsno, Envelope(Head(""), Entry())},
      {trNoList, "{" + Head() + ",\"list\":[]}"},
      {trNoList, "{" + Head() + ",\"list\":{}}"},
      {trNoCount, Envelope(Head("SN1", "one"), Entry())},
      {trCountMismatch, Envelope(Head("SN1", "2"), Entry())},
      {trWrongPrinter, Envelope(Head("SN2"), Entry())},
      {trEntryNotAnObject, Envelope(Head(), "\"" + kBuzzer + "\"")},
      {trNoTaskId, Envelope(Head(), Entry(kBuzzer, "", false))},
      {trNoTargetFile, Envelope(Head(), Entry(kBuzzer, "", true, false))},
      {trNoFileSize, Envelope(Head(), Entry(kBuzzer, "", true, true, false))},
      {trNoFileSize, Envelope(Head(), Entry(kBuzzer, "12.0"))},
      {trFileSizeMismatch, Envelope(Head(), Entry(kBuzzer, "8"))},
      {trCommandsTooLarge, Envelope(Head(), Entry(EncodePrintBase64(TPrintBytes(kMaxJobBytes + 3, 0x1B))))},
      {trBadBase64, Envelope(Head(), Entry("G0ID*QAAAAA="))},
      {trBadBase64, Envelope(Head(), Entry("G0IDAQAAAAA"))},
      {trBadBase64, Envelope(Head(), Entry("G0IDAQAA\\r\\nAAA=", "14"))},
      {trRenderError, Envelope(Head(), Entry(tsplNoPrint))},
  };
}

TEST(RefusalTable, LintErrorsAreThePrintersRefusals) {
  TRenderOptions lintOptions;
  lintOptions.Serial = "SN1";
  TPrinterJobOptions printer;
  printer.Serial = "SN1";
  std::set<TTaskRefusal> covered;
  for (const TRefusalCase& c : Cases()) {
    const TTaskRefusalRow& row = TaskRefusalRow(c.Refusal);
    SCOPED_TRACE(row.Name);
    covered.insert(c.Refusal);

    const TRenderResult lint = RenderEnvelope(c.Message, lintOptions);
    bool found = false;
    for (const TFinding& f : lint.Findings) {
      // No error without a reason, no reason without an error.
      EXPECT_EQ(f.Severity == fsError, f.Refusal != trNone) << FormatFinding(f);
      found = found || (f.Severity == fsError && f.Refusal == c.Refusal);
    }
    EXPECT_TRUE(found) << lint.FindingsText();
    EXPECT_TRUE(lint.Refused);
    // A refused job is listed and linted, not drawn.
    EXPECT_TRUE(lint.Pages.empty());

    const std::vector<TPrinterJobResult> replies = RunPrinterJob(c.Message, printer);
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies[0].Status, row.Status) << replies[0].Reason;
    EXPECT_EQ(replies[0].Refusal, c.Refusal) << replies[0].Reason;
    EXPECT_FALSE(replies[0].Reason.empty());
    // A refusal of the whole message answers every entry with it.
    if (row.WholeMessage) {
      for (const TPrinterJobResult& r : replies) EXPECT_EQ(r.Status, row.Status);
    }
  }
  // Every row of the table has its case.
  for (const TTaskRefusalRow& row : TaskRefusalTable()) EXPECT_TRUE(covered.count(row.Refusal)) << row.Name;
  EXPECT_EQ(TaskRefusalTable().size(), static_cast<size_t>(trRefusalCount) - 1);
}

TEST(RefusalTable, CleanJobsHaveNoErrorAndArePrinted) {
  struct TCase {
    const char* Name;
    std::string Message;
  };
  const TCase cases[] = {
      {"compact buzzer", Envelope(Head(), Entry())},
      {"count as a number",
       "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK\",\"count\":1,\"list\":[" + Entry() + "]}"},
      {"no usbidx (advice only)",
       "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"task_id\":\"a\",\"file_"
       "size\":"
       "\"12\",\"target_file\":\"" +
           kBuzzer + "\"}]}"},
      {"receipt sample", TTaskEnvelopeTemplate(SampleEnvelope(0)).Make("SN1", {kId})},
      {"label sample", TTaskEnvelopeTemplate(SampleEnvelope(1)).Make("SN1", {kId})},
      {"over 1 MiB of message (advice only)",
       Envelope(Head(), Entry(EncodePrintBase64(TPrintBytes(800 * 1024, 'A'))))},
  };
  TRenderOptions lintOptions;
  lintOptions.Serial = "SN1";
  TPrinterJobOptions printer;
  printer.Serial = "SN1";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRenderResult lint = RenderEnvelope(c.Message, lintOptions);
    EXPECT_FALSE(lint.HasErrors()) << lint.FindingsText();
    EXPECT_FALSE(lint.Refused);
    EXPECT_FALSE(lint.Pages.empty());
    const auto replies = RunPrinterJob(c.Message, printer);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Status, kJobPrinted) << replies[0].Reason;
    EXPECT_EQ(replies[0].Refusal, trNone);
  }
}

// --force draws what a printer refuses, where it can be read.
TEST(RefusalTable, ForceDrawsARefusedJob) {
  const std::string wrongSize = Envelope(Head(), Entry(kBuzzer, "8"));
  TRenderOptions options;
  EXPECT_TRUE(RenderEnvelope(wrongSize, options).Pages.empty());
  options.Force = true;
  const TRenderResult forced = RenderEnvelope(wrongSize, options);
  EXPECT_TRUE(forced.Refused);
  EXPECT_TRUE(forced.HasErrors());
  EXPECT_EQ(forced.Pages.size(), 1u);
}

}  // namespace
