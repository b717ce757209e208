// One virtual printer, independent of any MQTT client: it is given each
// message that arrives (topic and payload) and answers what to publish. It
// reads and checks the envelope, prints the entries (PrinterJob.h),
// remembers the task ids it has printed (a repeat is answered "duplicate"),
// and injects the faults it is asked for: failed, dropped, duplicated and
// delayed replies, drawn from a generator seeded by the serial so a seed
// gives the same faults wherever the printer runs.
//
//   TVirtualPrinter p("SN1", options);       // options: topics, faults, seed
//   publish(p.RepliesTopic(), p.OnlineMessage());      // the will: p.WillMessage()
//   for (const TPrinterReply& r : p.OnMessage(topic, payload))
//     if (!r.Dropped) for (int i = 0; i < r.Copies; ++i) publish_after(r.DelayMs, r.Topic, r.Payload);
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "PrinterJob.h"

struct TPrinterFaults {
  double FailRate = 0;             // answer this share of printed jobs with status 8
  double DropRate = 0;             // never answer this share of jobs
  double DuplicateRate = 0;        // answer this share of jobs twice
  int DelayMin = 0, DelayMax = 0;  // answer late, by a time in [min, max] ms
};

struct TVirtualPrinterOptions {
  std::string JobsTopic;     // where its jobs arrive
  std::string RepliesTopic;  // where it answers
  std::string OutDir;        // non-empty: pages go to OutDir/SERIAL/TASK_ID.png
  TPrinterFaults Faults;
  uint64_t Seed = 0;
  // How many task ids it remembers.
  std::size_t RememberedTasks = 100;
  TRenderOptions Render = PrinterRenderOptions();
  // Shared by the printers of a process (PrinterJob.h); null: none.
  TRenderCache* RenderCache = nullptr;
};

// The answer to one entry of a job.
struct TPrinterReply {
  TPrinterJobResult Job;  // the status after faults
  // What the printer did before any fault: printed, refused or a repeat.
  bool Printed = false, Refused = false, Duplicate = false;
  bool Failed = false;   // a printed job answered with status 8
  bool Dropped = false;  // nothing is published
  int Copies = 1;        // 2: the reply is published twice
  int DelayMs = 0;       // publish this late
  std::string Topic;     // the reply topic
  std::string Payload;   // PRINT_TASK_DONE
  // " fault=failed", " fault=dropped", " fault=duplicated", " fault=delayed:Nms" as they apply.
  std::string FaultText;
  // "SERIAL TASK_ID LANGUAGE PAGES STATUS [reason=\"...\"]" followed by FaultText.
  std::string JobLine(const std::string& ASerial) const;
};

class TVirtualPrinter {
 public:
  TVirtualPrinter(std::string ASerial, TVirtualPrinterOptions AOptions);

  const std::string& Serial() const { return FSerial; }
  const std::string& JobsTopic() const { return FOptions.JobsTopic; }
  const std::string& RepliesTopic() const { return FOptions.RepliesTopic; }
  // PRINTER_STATUS online (published on connecting) and offline (the will).
  std::string OnlineMessage() const { return WritePrinterStatus(FSerial, true); }
  std::string WillMessage() const { return WritePrinterStatus(FSerial, false); }

  // A message that arrived. Nothing for a topic other than the job topic;
  // otherwise one reply per entry of the job (one when it cannot be read).
  std::vector<TPrinterReply> OnMessage(const std::string& ATopic, const std::string& APayload);

  // True when ATaskId was printed before; remembers it otherwise.
  bool SeenBefore(const std::string& ATaskId);
  // A number in [0, 1) from the printer's own generator (its faults and
  // anything else the caller draws per printer, such as when to go offline).
  double Draw();

 private:
  std::string FSerial;
  TVirtualPrinterOptions FOptions;
  std::mt19937_64 FRng;
  std::deque<std::string> FRecent;
  std::unordered_set<std::string> FRecentSet;
};
