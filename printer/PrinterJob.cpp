#include "PrinterJob.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace {

// A serial or task id as one file name: nothing that leaves the folder
// (separators, a leading dot) and nothing a shell would trip on.
std::string SafeFileName(const std::string& AText) {
  std::string out;
  for (const char c : AText.substr(0, 128))
    out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  return out;
}

TPrinterJobResult Refusal(const std::string& ATaskId, TTaskRefusal ARefusal, const std::string& AReason) {
  TPrinterJobResult r;
  r.TaskId = ATaskId;
  r.Status = TaskRefusalRow(ARefusal).Status;
  r.Reason = AReason;
  r.Refusal = ARefusal;
  return r;
}

TPrinterJobResult PrintEntry(TEnvelopeEntry& AEntry, const TPrinterJobOptions& AOptions) {
  if (AEntry.Refusal == trEntryNotAnObject || AEntry.Refusal == trNoTaskId)
    return Refusal("", AEntry.Refusal, AEntry.Reason);
  const std::string& taskId = AEntry.TaskId;
  if (AOptions.SeenBefore && AOptions.SeenBefore(taskId)) {
    TPrinterJobResult r;
    r.TaskId = taskId;
    r.Status = kJobDuplicate;
    r.Reason = "task " + taskId + " was printed before";
    return r;
  }
  if (AEntry.Refusal != trNone) return Refusal(taskId, AEntry.Refusal, AEntry.Reason);

  TPrinterJobResult r;
  r.TaskId = taskId;
  const TPrintBytes& commands = AEntry.Bytes;
  const bool withPng = !AOptions.OutDir.empty();
  auto render = [&commands, &AOptions, withPng] {
    const auto started = std::chrono::steady_clock::now();
    const TRenderResult rendered = RenderCommandBytes(commands, AOptions.Render);
    TJobRender out;
    // A render that may have stopped at its time budget says nothing about
    // the same content on a quieter moment.
    out.Keep = AOptions.Render.MaxJobMilliseconds <= 0 ||
               std::chrono::steady_clock::now() - started <
                   std::chrono::milliseconds(AOptions.Render.MaxJobMilliseconds);
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
      AOptions.RenderCache != nullptr && !AOptions.Render.OnPage
          ? AOptions.RenderCache->Get(commands, RenderProfileKey(AOptions.Render), withPng, render)
          : std::make_shared<const TJobRender>(render());
  r.Language = rendered->Language;
  if (!rendered->LintError.empty()) return Refusal(taskId, trRenderError, rendered->LintError);
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
        TPrinterJobResult failed;
        failed.TaskId = taskId;
        failed.Status = kJobFailed;
        failed.Reason = e.what();
        return failed;
      }
    }
  }
  r.Status = kJobPrinted;
  return r;
}

}  // namespace

std::vector<TPrinterJobResult> RunPrinterJob(const std::string& AMessage,
                                             const TPrinterJobOptions& AOptions) {
  TEnvelopeReadOptions read;
  read.Serial = AOptions.Serial;
  read.MaxMessageBytes = kMaxJobMessageBytes;
  read.MaxCommandBytes = kMaxJobBytes;
  TEnvelopeRead envelope = ReadTaskEnvelope(AMessage, read);
  std::vector<TPrinterJobResult> out;
  if (envelope.Refusal != trNone) {
    // The whole message is refused, entry by entry where the entries can be read.
    for (const TEnvelopeEntry& e : envelope.Entries)
      out.push_back(Refusal(e.TaskId, envelope.Refusal, envelope.Reason));
    if (out.empty()) out.push_back(Refusal("", envelope.Refusal, envelope.Reason));
    return out;
  }
  out.reserve(envelope.Entries.size());
  for (TEnvelopeEntry& entry : envelope.Entries) out.push_back(PrintEntry(entry, AOptions));
  return out;
}

std::string PrintTaskDoneReply(const std::string& ASerial, const TPrinterJobResult& AResult) {
  return WriteTaskDoneReply({ASerial, AResult.TaskId, AResult.Status, AResult.Reason});
}

std::string PrinterStatusMessage(const std::string& ASerial, bool AOnline) {
  return WritePrinterStatus(ASerial, AOnline);
}
