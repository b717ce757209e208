// What one virtual printer does with one message from its job topic: read
// the print task envelope, check it, print every entry of `list`, and say
// for each entry what the reply carries (status, reason) and what was
// printed (language, pages). No MQTT here: the printer command feeds it the
// payload and publishes the answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "RenderCache.h"

// Reply statuses. "1" is printed; every other status is a refusal and comes
// with a reason text.
inline constexpr const char* kJobPrinted = "1";
inline constexpr const char* kJobNotAnEnvelope = "2";  // not JSON, members missing, count wrong
inline constexpr const char* kJobWrongPrinter = "3";   // dvsno is another printer's
inline constexpr const char* kJobBadFileSize = "4";    // file_size is not the Base64 length
inline constexpr const char* kJobBadBase64 = "5";      // target_file is not valid Base64
inline constexpr const char* kJobTooLarge = "6";       // more than 1 MiB of printer commands
inline constexpr const char* kJobLintError = "7";      // the renderer found an error in the commands
inline constexpr const char* kJobFailed = "8";         // printer fault (injected with --fail-rate)
inline constexpr const char* kJobDuplicate = "duplicate";

// Printer commands above this size are refused.
inline constexpr std::size_t kMaxJobBytes = 1024 * 1024;
// Messages above this size are refused without being read.
inline constexpr std::size_t kMaxJobMessageBytes = 4 * 1024 * 1024;

struct TPrinterJobOptions {
  std::string Serial;  // this printer's serial: the dvsno it accepts
  std::string OutDir;  // non-empty: pages go to OutDir/Serial/TASK_ID.png
  // Called once for every task id that gets this far; true when the printer
  // has seen the id before (the printer remembers its last ids). Such an
  // entry is answered "duplicate" and not printed again.
  std::function<bool(const std::string& ATaskId)> SeenBefore;
  // Shared by the printers of a process: each distinct content is rendered
  // once. Null: every job is rendered.
  TRenderCache* RenderCache = nullptr;
};

struct TPrinterJobResult {
  std::string TaskId;  // empty when the message did not let us read one
  std::string Status;
  std::string Reason;    // empty when printed
  std::string Language;  // "ESC/POS" or "TSPL"; empty when not read
  int Pages = 0;
};

// One result per entry of `list`; a message that is not an envelope at all
// gives one result without a task id.
std::vector<TPrinterJobResult> RunPrinterJob(const std::string& AMessage, const TPrinterJobOptions& AOptions);

// The reply a printer publishes for one entry:
// {"dvsno":"SN","kind":"PRINT_TASK_DONE","task_id":"ID","status":"S"[,"reason":"R"]}
std::string PrintTaskDoneReply(const std::string& ASerial, const TPrinterJobResult& AResult);
// {"dvsno":"SN","kind":"PRINTER_STATUS","status":"online"|"offline"}
std::string PrinterStatusMessage(const std::string& ASerial, bool AOnline);
