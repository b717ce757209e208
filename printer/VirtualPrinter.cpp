#include "VirtualPrinter.h"

#include <functional>
#include <utility>

namespace {

// A reason on the job line: quoted, line breaks as spaces.
std::string QuoteForLine(const std::string& AText) {
  std::string out = "\"";
  for (const char c : AText) {
    if (c == '"' || c == '\\') out += '\\';
    out += (c == '\n' || c == '\r') ? ' ' : c;
  }
  return out + "\"";
}

}  // namespace

std::string TPrinterReply::JobLine(const std::string& ASerial) const {
  std::string line = ASerial + " " + (Job.TaskId.empty() ? "-" : Job.TaskId) + " " +
                     (Job.Language.empty() ? "-" : Job.Language) + " " + std::to_string(Job.Pages) + " " +
                     Job.Status;
  if (!Job.Reason.empty()) line += " reason=" + QuoteForLine(Job.Reason);
  return line + FaultText;
}

TVirtualPrinter::TVirtualPrinter(std::string ASerial, TVirtualPrinterOptions AOptions)
    : FSerial(std::move(ASerial)), FOptions(std::move(AOptions)) {
  // Seeded by serial, so a printer's faults do not depend on which shard or
  // process it runs in, nor on the order jobs arrive across printers.
  std::seed_seq seq{static_cast<uint32_t>(FOptions.Seed), static_cast<uint32_t>(FOptions.Seed >> 32),
                    static_cast<uint32_t>(std::hash<std::string>()(FSerial))};
  FRng.seed(seq);
}

bool TVirtualPrinter::SeenBefore(const std::string& ATaskId) {
  if (FRecentSet.count(ATaskId) != 0) return true;
  FRecent.push_back(ATaskId);
  FRecentSet.insert(ATaskId);
  if (FRecent.size() > FOptions.RememberedTasks) {
    FRecentSet.erase(FRecent.front());
    FRecent.pop_front();
  }
  return false;
}

double TVirtualPrinter::Draw() { return std::uniform_real_distribution<double>(0.0, 1.0)(FRng); }

std::vector<TPrinterReply> TVirtualPrinter::OnMessage(const std::string& ATopic,
                                                      const std::string& APayload) {
  std::vector<TPrinterReply> out;
  if (ATopic != FOptions.JobsTopic) return out;
  TPrinterJobOptions job;
  job.Serial = FSerial;
  job.OutDir = FOptions.OutDir;
  job.Render = FOptions.Render;
  job.RenderCache = FOptions.RenderCache;
  job.SeenBefore = [this](const std::string& ATaskId) { return SeenBefore(ATaskId); };
  const TPrinterFaults& f = FOptions.Faults;
  for (TPrinterJobResult& r : RunPrinterJob(APayload, job)) {
    TPrinterReply reply;
    reply.Printed = r.Status == kJobPrinted;
    reply.Duplicate = r.Status == kJobDuplicate;
    reply.Refused = !reply.Printed && !reply.Duplicate;
    // Each fault is drawn for every job, so a seed gives the same faults
    // whichever options are combined.
    const bool fail = Draw() < f.FailRate;
    const bool drop = Draw() < f.DropRate;
    const bool twice = Draw() < f.DuplicateRate;
    const int delay = f.DelayMax > f.DelayMin
                          ? std::uniform_int_distribution<int>(f.DelayMin, f.DelayMax)(FRng)
                          : f.DelayMin;
    if (fail && reply.Printed) {
      r.Status = kJobFailed;
      r.Reason = "printer fault (injected)";
      reply.Failed = true;
      reply.FaultText += " fault=failed";
    }
    reply.Job = std::move(r);
    reply.Topic = FOptions.RepliesTopic;
    reply.Payload = PrintTaskDoneReply(FSerial, reply.Job);
    if (drop) {
      reply.Dropped = true;
      reply.Copies = 0;
      reply.FaultText += " fault=dropped";
    } else {
      if (twice) {
        reply.Copies = 2;
        reply.FaultText += " fault=duplicated";
      }
      if (delay > 0) {
        reply.DelayMs = delay;
        reply.FaultText += " fault=delayed:" + std::to_string(delay) + "ms";
      }
    }
    out.push_back(std::move(reply));
  }
  return out;
}
