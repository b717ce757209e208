#include "TaskReply.h"

#include "Json.h"

std::string WriteTaskDoneReply(const TTaskReply& AReply) {
  std::string s = "{\"dvsno\":" + JsonQuote(AReply.Dvsno) +
                  ",\"kind\":\"PRINT_TASK_DONE\",\"task_id\":" + JsonQuote(AReply.TaskId) +
                  ",\"status\":" + JsonQuote(AReply.Status);
  if (AReply.Status != kJobPrinted) s += ",\"reason\":" + JsonQuote(AReply.Reason);
  s += "}";
  return s;
}

std::string WritePrinterStatus(const std::string& ASerial, bool AOnline) {
  return "{\"dvsno\":" + JsonQuote(ASerial) + ",\"kind\":\"PRINTER_STATUS\",\"status\":\"" +
         (AOnline ? "online" : "offline") + "\"}";
}

TReadReply ReadPrinterReply(const std::string& APayload) {
  TReadReply out;
  TJsonValue reply;
  try {
    reply = ParseJson(APayload, 8);
  } catch (const EJsonError&) {
    return out;
  }
  if (!reply.IsObject()) return out;
  out.Kind = rkUnknown;
  const TJsonValue* kind = reply.Member("kind");
  if (kind == nullptr || !kind->IsString()) return out;
  const TJsonValue* status = reply.Member("status");
  const bool statusText = status != nullptr && status->IsString();
  if (const TJsonValue* dvsno = reply.Member("dvsno"); dvsno != nullptr && dvsno->IsString())
    out.Done.Dvsno = dvsno->Text;
  if (kind->Text == "PRINTER_STATUS") {
    out.Kind = rkPrinterStatus;
    out.Online = statusText && status->Text == "online";
    out.Offline = statusText && status->Text == "offline";
    return out;
  }
  const TJsonValue* id = reply.Member("task_id");
  if (kind->Text != "PRINT_TASK_DONE" || id == nullptr || !id->IsString()) return out;
  out.Kind = rkTaskDone;
  out.Done.TaskId = id->Text;
  out.Done.Status = statusText ? status->Text : std::string("?");
  if (const TJsonValue* reason = reply.Member("reason"); reason != nullptr && reason->IsString())
    out.Done.Reason = reason->Text;
  return out;
}
