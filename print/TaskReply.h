// What a printer sends back: PRINT_TASK_DONE for every entry of a print
// task, and PRINTER_STATUS when it comes online or goes away (its will).
// Written by the virtual printer, read by the print service's side.
#pragma once

#include <string>

// Reply statuses. "1" is printed; every other status is a refusal and comes
// with a reason text. The refusal table (TaskEnvelope.h) maps each reason
// to its status.
inline constexpr const char* kJobPrinted = "1";
inline constexpr const char* kJobNotAnEnvelope = "2";  // not JSON, members missing, count wrong
inline constexpr const char* kJobWrongPrinter = "3";   // dvsno is another printer's
inline constexpr const char* kJobBadFileSize = "4";    // file_size is not the Base64 length
inline constexpr const char* kJobBadBase64 = "5";      // target_file is not valid Base64
inline constexpr const char* kJobTooLarge = "6";       // over 1 MiB
inline constexpr const char* kJobLintError = "7";      // the renderer found an error in the commands
inline constexpr const char* kJobFailed = "8";         // printer fault
inline constexpr const char* kJobDuplicate = "duplicate";

struct TTaskReply {
  std::string Dvsno;
  std::string TaskId;
  std::string Status;
  std::string Reason;  // empty when printed
};

// {"dvsno":"SN","kind":"PRINT_TASK_DONE","task_id":"ID","status":"S"[,"reason":"R"]}
// (the reason only when the status is not "1").
std::string WriteTaskDoneReply(const TTaskReply& AReply);
// {"dvsno":"SN","kind":"PRINTER_STATUS","status":"online"|"offline"}
std::string WritePrinterStatus(const std::string& ASerial, bool AOnline);

// What a message on a reply topic is.
enum TReplyKind {
  rkNotJson,       // not a JSON object
  rkUnknown,       // an object without a kind we know, or a malformed one
  rkTaskDone,      // PRINT_TASK_DONE with a task_id text
  rkPrinterStatus  // PRINTER_STATUS
};

struct TReadReply {
  TReplyKind Kind = rkNotJson;
  TTaskReply Done;                       // rkTaskDone: status "?" when it has none
  bool Online = false, Offline = false;  // rkPrinterStatus
};

TReadReply ReadPrinterReply(const std::string& APayload);
