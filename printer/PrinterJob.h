// What one virtual printer does with one message from its job topic: read
// the print task envelope (TaskEnvelope.h, the same reader lint uses),
// check it, print every entry of `list`, and say for each entry what the
// reply carries (status, reason) and what was printed (language, pages).
// No MQTT here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PrinterProfile.h"
#include "Render.h"
#include "RenderCache.h"
#include "TaskEnvelope.h"
#include "TaskReply.h"

// Printer commands above this size are refused.
inline constexpr std::size_t kMaxJobBytes = kMaxPrintTaskCommandBytes;
// Messages above this size are refused without being read.
inline constexpr std::size_t kMaxJobMessageBytes = kMaxPrintTaskMessageBytes;

// How a virtual printer draws by default: the renderer's defaults within
// the job budget of a second.
inline TRenderOptions PrinterRenderOptions() {
  TRenderOptions o;
  o.MaxJobMilliseconds = kJobMillisecondsBudget;
  return o;
}

struct TPrinterJobOptions {
  std::string Serial;  // this printer's serial: the dvsno it accepts
  std::string OutDir;  // non-empty: pages go to OutDir/Serial/TASK_ID.png
  // Called once for every task id that gets this far; true when the printer
  // has seen the id before (the printer remembers its last ids). Such an
  // entry is answered "duplicate" and not printed again.
  std::function<bool(const std::string& ATaskId)> SeenBefore;
  // How the printer draws (its profile, its width, its limits).
  TRenderOptions Render = PrinterRenderOptions();
  // Shared by the printers of a process: each distinct content is rendered
  // once per profile. Null: every job is rendered.
  TRenderCache* RenderCache = nullptr;
};

struct TPrinterJobResult {
  std::string TaskId;  // empty when the message did not let us read one
  std::string Status;
  std::string Reason;    // empty when printed
  std::string Language;  // "ESC/POS" or "TSPL"; empty when not read
  int Pages = 0;
  TTaskRefusal Refusal = trNone;  // why it was refused (trNone: printed, duplicate or a fault)
};

// One result per entry of `list`; a message that is not an envelope at all
// gives one result without a task id.
std::vector<TPrinterJobResult> RunPrinterJob(const std::string& AMessage, const TPrinterJobOptions& AOptions);

// The reply a printer publishes for one entry:
// {"dvsno":"SN","kind":"PRINT_TASK_DONE","task_id":"ID","status":"S"[,"reason":"R"]}
std::string PrintTaskDoneReply(const std::string& ASerial, const TPrinterJobResult& AResult);
// {"dvsno":"SN","kind":"PRINTER_STATUS","status":"online"|"offline"}
std::string PrinterStatusMessage(const std::string& ASerial, bool AOnline);
