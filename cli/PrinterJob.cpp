#include "PrinterJob.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "Json.h"
#include "PrintTask.h"
#include "Render.h"

namespace {

// A non-negative decimal count given as a JSON string (the envelope's way)
// or a number; -1 when it is neither.
long long CountValue(const TJsonValue* AValue) {
  if (AValue == nullptr || (!AValue->IsString() && AValue->Kind != TJsonValue::jkNumber)) return -1;
  const std::string& t = AValue->Text;
  if (t.empty() || t.size() > 12) return -1;
  long long n = 0;
  for (const char c : t) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// A serial or task id as one file name: nothing that leaves the folder
// (separators, a leading dot) and nothing a shell would trip on.
std::string SafeFileName(const std::string& AText) {
  std::string out;
  for (const char c : AText.substr(0, 128))
    out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  return out;
}

TPrinterJobResult Refusal(const std::string& ATaskId, const char* AStatus, const std::string& AReason) {
  TPrinterJobResult r;
  r.TaskId = ATaskId;
  r.Status = AStatus;
  r.Reason = AReason;
  return r;
}

// The task ids of the entries, where they can be read (for refusing a
// whole envelope entry by entry).
std::vector<std::string> EntryTaskIds(const TJsonValue* AList) {
  std::vector<std::string> ids;
  if (AList == nullptr || !AList->IsArray()) return ids;
  for (const TJsonValue& entry : AList->Items) {
    const TJsonValue* id = entry.IsObject() ? entry.Member("task_id") : nullptr;
    ids.push_back(id != nullptr && id->IsString() ? id->Text : std::string());
  }
  return ids;
}

std::vector<TPrinterJobResult> RefuseAll(const TJsonValue* AList, const char* AStatus,
                                         const std::string& AReason) {
  std::vector<TPrinterJobResult> out;
  std::vector<std::string> ids = EntryTaskIds(AList);
  if (ids.empty()) ids.emplace_back();
  for (const std::string& id : ids) out.push_back(Refusal(id, AStatus, AReason));
  return out;
}

TPrinterJobResult PrintEntry(const TJsonValue& AEntry, const TPrinterJobOptions& AOptions) {
  if (!AEntry.IsObject()) return Refusal("", kJobNotAnEnvelope, "an entry of list is not an object");
  const TJsonValue* id = AEntry.Member("task_id");
  if (id == nullptr || !id->IsString() || id->Text.empty())
    return Refusal("", kJobNotAnEnvelope, "an entry of list has no task_id");
  const std::string& taskId = id->Text;
  if (AOptions.SeenBefore && AOptions.SeenBefore(taskId))
    return Refusal(taskId, kJobDuplicate, "task " + taskId + " was printed before");

  const TJsonValue* target = AEntry.Member("target_file");
  if (target == nullptr || !target->IsString())
    return Refusal(taskId, kJobNotAnEnvelope, "the entry has no target_file");
  const long long fileSize = CountValue(AEntry.Member("file_size"));
  if (fileSize < 0) return Refusal(taskId, kJobNotAnEnvelope, "the entry has no file_size");
  if (static_cast<unsigned long long>(fileSize) != target->Text.size())
    return Refusal(taskId, kJobBadFileSize,
                   "file_size " + std::to_string(fileSize) + " is not the length of target_file (" +
                       std::to_string(target->Text.size()) + ")");
  // Checked before decoding, so an oversized job costs no memory.
  if (target->Text.size() / 4 * 3 > kMaxJobBytes + 2)
    return Refusal(taskId, kJobTooLarge, "the job is over 1 MB");
  TPrintBytes commands;
  try {
    commands = DecodePrintBase64(target->Text);
  } catch (const EPrintError&) {
    return Refusal(taskId, kJobBadBase64, "target_file is not valid Base64");
  }
  if (commands.size() > kMaxJobBytes) return Refusal(taskId, kJobTooLarge, "the job is over 1 MB");

  TPrinterJobResult r;
  r.TaskId = taskId;
  const bool withPng = !AOptions.OutDir.empty();
  auto render = [&commands, withPng] {
    const TRenderResult rendered = RenderCommandBytes(commands);
    TJobRender out;
    out.Language =
        LanguageName(rendered.JobLanguages.empty() ? DetectLanguage(commands.data(), commands.size())
                                                   : rendered.JobLanguages.front());
    // A job the printer could not print as sent is refused with the first error.
    for (const TFinding& f : rendered.Findings)
      if (f.Severity == fsError) {
        out.LintError = FormatFinding(f);
        return out;
      }
    out.Pages = static_cast<int>(rendered.Pages.size());
    if (withPng)
      for (const TRenderedPage& page : rendered.Pages) out.Png.push_back(page.Png());
    return out;
  };
  const std::shared_ptr<const TJobRender> rendered =
      AOptions.RenderCache != nullptr ? AOptions.RenderCache->Get(commands, std::string(), withPng, render)
                                      : std::make_shared<const TJobRender>(render());
  r.Language = rendered->Language;
  if (!rendered->LintError.empty()) return Refusal(taskId, kJobLintError, rendered->LintError);
  r.Pages = rendered->Pages;
  if (withPng) {
    const std::string dir = AOptions.OutDir + "/" + SafeFileName(AOptions.Serial);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string base = dir + "/" + SafeFileName(taskId);
    for (std::size_t k = 0; k < rendered->Png.size(); ++k) {
      const std::string name = k == 0 ? base + ".png" : base + "-" + std::to_string(k + 1) + ".png";
      try {
        WriteRenderFile(name, rendered->Png[k]);
      } catch (const std::exception& e) {
        return Refusal(taskId, kJobFailed, e.what());
      }
    }
  }
  r.Status = kJobPrinted;
  return r;
}

}  // namespace

std::vector<TPrinterJobResult> RunPrinterJob(const std::string& AMessage,
                                             const TPrinterJobOptions& AOptions) {
  if (AMessage.size() > kMaxJobMessageBytes)
    return {
        Refusal("", kJobTooLarge, "the message is over " + std::to_string(kMaxJobMessageBytes) + " bytes")};
  TJsonValue root;
  try {
    root = ParseJson(AMessage, 16);
  } catch (const EJsonError& e) {
    return {Refusal("", kJobNotAnEnvelope, std::string("not a valid envelope: ") + e.what())};
  }
  if (!root.IsObject()) return {Refusal("", kJobNotAnEnvelope, "not a valid envelope: not a JSON object")};
  const TJsonValue* list = root.Member("list");
  const TJsonValue* kind = root.Member("kind");
  if (kind == nullptr || !kind->IsString() || kind->Text != "PRINT_TASK")
    return RefuseAll(list, kJobNotAnEnvelope, "not a valid envelope: kind is not PRINT_TASK");
  const TJsonValue* dvsno = root.Member("dvsno");
  if (dvsno == nullptr || !dvsno->IsString())
    return RefuseAll(list, kJobNotAnEnvelope, "not a valid envelope: no dvsno");
  if (list == nullptr || !list->IsArray() || list->Items.empty())
    return RefuseAll(list, kJobNotAnEnvelope, "not a valid envelope: no list of tasks");
  const long long count = CountValue(root.Member("count"));
  if (count < 0) return RefuseAll(list, kJobNotAnEnvelope, "not a valid envelope: no count");
  if (static_cast<unsigned long long>(count) != list->Items.size())
    return RefuseAll(list, kJobNotAnEnvelope,
                     "not a valid envelope: count " + std::to_string(count) + " but " +
                         std::to_string(list->Items.size()) + " entries in list");
  if (dvsno->Text != AOptions.Serial)
    return RefuseAll(list, kJobWrongPrinter,
                     "dvsno " + dvsno->Text + " is not this printer (" + AOptions.Serial + ")");

  std::vector<TPrinterJobResult> out;
  out.reserve(list->Items.size());
  for (const TJsonValue& entry : list->Items) out.push_back(PrintEntry(entry, AOptions));
  return out;
}

std::string PrintTaskDoneReply(const std::string& ASerial, const TPrinterJobResult& AResult) {
  std::string s = "{\"dvsno\":" + JsonQuote(ASerial) +
                  ",\"kind\":\"PRINT_TASK_DONE\",\"task_id\":" + JsonQuote(AResult.TaskId) +
                  ",\"status\":" + JsonQuote(AResult.Status);
  if (AResult.Status != kJobPrinted) s += ",\"reason\":" + JsonQuote(AResult.Reason);
  s += "}";
  return s;
}

std::string PrinterStatusMessage(const std::string& ASerial, bool AOnline) {
  return "{\"dvsno\":" + JsonQuote(ASerial) + ",\"kind\":\"PRINTER_STATUS\",\"status\":\"" +
         (AOnline ? "online" : "offline") + "\"}";
}
