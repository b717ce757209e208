// The virtual printer as the network side sees it: a message in, what to
// publish out; repeats remembered within a window; faults drawn from a
// generator seeded by the serial.
#include <gtest/gtest.h>

#include "Json.h"
#include "PrintPresets.h"
#include "VirtualPrinter.h"

namespace {

std::string Job(const std::string& ASerial, const std::string& ATaskId) {
  return TTaskEnvelopeTemplate(BuzzerEnvelope()).Make(ASerial, {ATaskId});
}

TVirtualPrinterOptions Topics() {
  TVirtualPrinterOptions o;
  o.JobsTopic = "p/SN1/jobs";
  o.RepliesTopic = "p/SN1/replies";
  return o;
}

TEST(VirtualPrinterTest, AnswersJobsOnItsJobTopicOnly) {
  TVirtualPrinter printer("SN1", Topics());
  EXPECT_TRUE(printer.OnMessage("p/SN1/other", Job("SN1", "A")).empty());
  const auto replies = printer.OnMessage("p/SN1/jobs", Job("SN1", "A"));
  ASSERT_EQ(replies.size(), 1u);
  const TPrinterReply& r = replies[0];
  EXPECT_TRUE(r.Printed);
  EXPECT_FALSE(r.Refused || r.Duplicate || r.Failed || r.Dropped);
  EXPECT_EQ(r.Copies, 1);
  EXPECT_EQ(r.DelayMs, 0);
  EXPECT_EQ(r.Topic, "p/SN1/replies");
  EXPECT_EQ(r.Payload, "{\"dvsno\":\"SN1\",\"kind\":\"PRINT_TASK_DONE\",\"task_id\":\"A\",\"status\":\"1\"}");
  EXPECT_EQ(r.JobLine("SN1"), "SN1 A ESC/POS 1 1");
  // The reply reads back as what was written.
  const TReadReply back = ReadPrinterReply(r.Payload);
  EXPECT_EQ(back.Kind, rkTaskDone);
  EXPECT_EQ(back.Done.TaskId, "A");
  EXPECT_EQ(back.Done.Status, "1");
  EXPECT_EQ(back.Done.Dvsno, "SN1");
  EXPECT_EQ(ReadPrinterReply(printer.WillMessage()).Kind, rkPrinterStatus);
  EXPECT_TRUE(ReadPrinterReply(printer.WillMessage()).Offline);
  EXPECT_TRUE(ReadPrinterReply(printer.OnlineMessage()).Online);

  // A refusal's line carries its reason, quoted, and the reply its reason.
  const auto wrong = printer.OnMessage("p/SN1/jobs", Job("SN2", "B"));
  ASSERT_EQ(wrong.size(), 1u);
  EXPECT_TRUE(wrong[0].Refused);
  EXPECT_EQ(wrong[0].JobLine("SN1"), "SN1 B - 0 3 reason=\"dvsno SN2 is not this printer (SN1)\"");
  EXPECT_EQ(ReadPrinterReply(wrong[0].Payload).Done.Reason, "dvsno SN2 is not this printer (SN1)");
}

TEST(VirtualPrinterTest, RemembersTheLastTaskIdsOnly) {
  TVirtualPrinterOptions o = Topics();
  o.RememberedTasks = 3;
  TVirtualPrinter printer("SN1", o);
  for (const char* id : {"A", "B", "C"})
    EXPECT_TRUE(printer.OnMessage(o.JobsTopic, Job("SN1", id))[0].Printed);
  const auto again = printer.OnMessage(o.JobsTopic, Job("SN1", "A"));
  EXPECT_TRUE(again[0].Duplicate);
  EXPECT_EQ(again[0].Job.Status, kJobDuplicate);
  // D pushes A out of the window of three; A prints again.
  EXPECT_TRUE(printer.OnMessage(o.JobsTopic, Job("SN1", "D"))[0].Printed);
  EXPECT_TRUE(printer.OnMessage(o.JobsTopic, Job("SN1", "A"))[0].Printed);
}

TEST(VirtualPrinterTest, FaultsAreRepeatableAndAsAsked) {
  struct TCase {
    const char* Name;
    TPrinterFaults Faults;
  };
  const TCase cases[] = {
      {"none", {}},
      {"fail half", {0.5, 0, 0, 0, 0}},
      {"drop half", {0, 0.5, 0, 0, 0}},
      {"twice half", {0, 0, 0.5, 0, 0}},
      {"delay range", {0, 0, 0, 5, 50}},
      {"everything", {0.3, 0.3, 0.3, 1, 9}},
  };
  const int kJobs = 200;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto run = [&](uint64_t ASeed) {
      TVirtualPrinterOptions o = Topics();
      o.Faults = c.Faults;
      o.Seed = ASeed;
      TVirtualPrinter printer("SN1", o);
      std::vector<std::string> lines;
      int failed = 0, dropped = 0, twice = 0, delayed = 0;
      for (int i = 0; i < kJobs; ++i) {
        const TPrinterReply r = printer.OnMessage(o.JobsTopic, Job("SN1", "T" + std::to_string(i))).at(0);
        EXPECT_TRUE(r.Printed);
        lines.push_back(r.JobLine("SN1"));
        failed += r.Failed;
        dropped += r.Dropped;
        twice += r.Copies == 2;
        delayed += r.DelayMs > 0;
        if (r.Failed) {
          EXPECT_EQ(r.Job.Status, kJobFailed);
        }
        if (r.Dropped) {
          EXPECT_EQ(r.Copies, 0);
        }
        if (r.DelayMs > 0) {
          EXPECT_GE(r.DelayMs, c.Faults.DelayMin);
          EXPECT_LE(r.DelayMs, c.Faults.DelayMax);
        }
        EXPECT_EQ(r.FaultText.find("fault=dropped") != std::string::npos, r.Dropped);
      }
      // Each fault happens, or not, as its rate says (loose bounds: 200 draws).
      auto share = [&](int n, double rate) {
        if (rate == 0) {
          EXPECT_EQ(n, 0);
        } else {
          EXPECT_GT(n, static_cast<int>(kJobs * rate / 2));
          EXPECT_LT(n, static_cast<int>(kJobs * (rate + 1) / 2));
        }
      };
      share(failed, c.Faults.FailRate);
      share(dropped, c.Faults.DropRate);
      // Only answered jobs are duplicated or delayed.
      if (c.Faults.DropRate == 0) {
        share(twice, c.Faults.DuplicateRate);
        EXPECT_EQ(delayed, c.Faults.DelayMax > 0 ? kJobs : 0);
      }
      return lines;
    };
    EXPECT_EQ(run(7), run(7));
    if (c.Faults.FailRate + c.Faults.DropRate + c.Faults.DuplicateRate > 0) {
      EXPECT_NE(run(7), run(8));
    }
  }
}

}  // namespace
