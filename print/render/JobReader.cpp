#include "JobReader.h"

#include <cctype>
#include <utility>

#include "Json.h"
#include "PrintTask.h"

namespace {

// Where a finding about AValue points: a string's first character, any other
// value's first byte.
size_t Where(const TJsonValue& AValue) { return AValue.Begin + (AValue.IsString() ? 1 : 0); }

// A string's value, or any other value as it is written.
std::string ValueText(const TJsonValue& AValue, const std::string& ASource) {
  return AValue.IsString() ? AValue.Text : ASource.substr(AValue.Begin, AValue.End - AValue.Begin);
}

bool IsDecimal(const std::string& AText, long long& AValue) {
  if (AText.empty() || AText.size() > 18) return false;
  AValue = 0;
  for (char c : AText) {
    if (c < '0' || c > '9') return false;
    AValue = AValue * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool LooksLikeEnvelope(const uint8_t* AData, size_t ASize) {
  size_t i = 0;
  if (ASize >= 3 && AData[0] == 0xEF && AData[1] == 0xBB && AData[2] == 0xBF) i = 3;
  while (i < ASize && (AData[i] == ' ' || AData[i] == '\t' || AData[i] == '\r' || AData[i] == '\n')) ++i;
  return i < ASize && AData[i] == '{';
}

std::vector<TJobBytes> ReadEnvelopeJobs(const std::string& AText, size_t AMaxMessageBytes, TLint& ALint) {
  std::vector<TJobBytes> jobs;
  if (AText.size() > AMaxMessageBytes)
    ALint.Add(fsError, -1, 0,
              "message of " + std::to_string(AText.size()) + " bytes is over the " +
                  std::to_string(AMaxMessageBytes) + "-byte limit cloud printers set");
  std::string text = AText;
  size_t shift = 0;
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    ALint.Add(fsWarning, -1, 0, "byte order mark before the JSON text");
    text.erase(0, 3);
    shift = 3;
  }
  TJsonValue root;
  try {
    root = ParseJson(text);
  } catch (const EJsonError& e) {
    ALint.Add(fsError, -1, e.Offset() + shift, "not valid JSON: " + e.Reason());
    return jobs;
  }
  const auto valueText = [&text](const TJsonValue& AValue) { return ValueText(AValue, text); };
  if (!root.IsObject()) {
    ALint.Add(fsError, -1, shift, "the envelope is not a JSON object");
    return jobs;
  }
  for (const char* name : {"dvsno", "kind", "count"})
    if (!root.Member(name))
      ALint.Add(fsWarning, -1, shift, std::string("member \"") + name + "\" is missing");
  if (const TJsonValue* kind = root.Member("kind"); kind && valueText(*kind) != "PRINT_TASK")
    ALint.Add(fsWarning, -1, Where(*kind) + shift,
              "kind is \"" + valueText(*kind) + "\", not \"PRINT_TASK\"");
  const TJsonValue* list = root.Member("list");
  if (!list || !list->IsArray()) {
    ALint.Add(fsError, -1, (list ? Where(*list) : 0) + shift,
              list ? "member \"list\" is not an array" : "member \"list\" is missing");
    return jobs;
  }
  if (list->Items.empty()) ALint.Add(fsError, -1, Where(*list) + shift, "the list has no entries");
  if (const TJsonValue* count = root.Member("count")) {
    long long n = 0;
    if (!IsDecimal(valueText(*count), n))
      ALint.Add(fsWarning, -1, Where(*count) + shift, "count \"" + valueText(*count) + "\" is not a number");
    else if (n != static_cast<long long>(list->Items.size()))
      ALint.Add(fsWarning, -1, Where(*count) + shift,
                "count is " + std::to_string(n) + " but the list has " + std::to_string(list->Items.size()) +
                    " entries");
  }
  for (size_t k = 0; k < list->Items.size(); ++k) {
    const TJsonValue& entry = list->Items[k];
    TJobBytes job;
    job.EnvelopeOffset = Where(entry) + shift;
    const std::string which = "entry " + std::to_string(k + 1) + ": ";
    if (!entry.IsObject()) {
      ALint.Add(fsError, -1, Where(entry) + shift, which + "not an object");
      jobs.push_back(std::move(job));
      continue;
    }
    for (const char* name : {"task_id", "usbidx", "file_size"})
      if (!entry.Member(name))
        ALint.Add(fsWarning, -1, Where(entry) + shift, which + "member \"" + name + "\" is missing");
    const TJsonValue* target = entry.Member("target_file");
    if (!target || !target->IsString()) {
      ALint.Add(fsError, -1, (target ? Where(*target) : Where(entry)) + shift,
                which + (target ? "target_file is not a string" : "member \"target_file\" is missing"));
      jobs.push_back(std::move(job));
      continue;
    }
    job.EnvelopeOffset = Where(*target) + shift;
    std::string b64 = target->Text;
    if (const TJsonValue* size = entry.Member("file_size")) {
      long long n = 0;
      if (!IsDecimal(valueText(*size), n))
        ALint.Add(fsWarning, -1, Where(*size) + shift,
                  which + "file_size \"" + valueText(*size) + "\" is not a number");
      else if (n != static_cast<long long>(b64.size()))
        ALint.Add(fsWarning, -1, Where(*size) + shift,
                  which + "file_size is " + std::to_string(n) + " but target_file has " +
                      std::to_string(b64.size()) + " Base64 characters");
    }
    std::string clean;
    clean.reserve(b64.size());
    for (char c : b64)
      if (c != ' ' && c != '\r' && c != '\n' && c != '\t') clean += c;
    if (clean.size() != b64.size())
      ALint.Add(fsWarning, -1, Where(*target) + shift,
                which + "target_file has whitespace inside its Base64 text");
    try {
      job.Bytes = DecodePrintBase64(clean);
      job.Ok = true;
    } catch (const EPrintError&) {
      size_t bad = 0;
      while (bad < clean.size() &&
             (std::isalnum(static_cast<unsigned char>(clean[bad])) || clean[bad] == '+' || clean[bad] == '/'))
        ++bad;
      std::string why = clean.size() % 4
                            ? "its length " + std::to_string(clean.size()) + " is not a multiple of 4"
                            : "character " + std::to_string(bad + 1) + " is not in the alphabet";
      ALint.Add(fsError, -1, Where(*target) + shift, which + "target_file is not valid Base64 (" + why + ")");
    }
    jobs.push_back(std::move(job));
  }
  return jobs;
}
