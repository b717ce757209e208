#include "TaskEnvelope.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <stdexcept>

#include "Json.h"
#include "PrintPresets.h"

namespace {

// The one table: which reply a refusal gets. Status numbers are what
// printers answer today; keep them.
const std::vector<TTaskRefusalRow> kRefusalTable = {
    {trMessageTooLarge, kJobTooLarge, true, "message too large",
     "the message is over 4 MiB (4194304 bytes); it is not read"},
    {trByteOrderMark, kJobNotAnEnvelope, true, "byte order mark",
     "a UTF-8 byte order mark before the JSON text"},
    {trNotJson, kJobNotAnEnvelope, true, "not JSON", "not JSON (RFC 8259, strict), or text after it"},
    {trNotAnObject, kJobNotAnEnvelope, true, "not an object", "the JSON text is not an object"},
    {trWrongKind, kJobNotAnEnvelope, true, "wrong kind", "kind is missing or not \"PRINT_TASK\""},
    {trNoDvsno, kJobNotAnEnvelope, true, "no dvsno", "dvsno is missing or not a string"},
    {trNoList, kJobNotAnEnvelope, true, "no list", "list is missing, not an array, or empty"},
    {trNoCount, kJobNotAnEnvelope, true, "no count", "count is missing or not a whole number"},
    {trCountMismatch, kJobNotAnEnvelope, true, "count mismatch",
     "count is not the number of entries of list"},
    {trWrongPrinter, kJobWrongPrinter, true, "another printer's dvsno",
     "dvsno is not the printer's serial (checked when the serial is known)"},
    {trEntryNotAnObject, kJobNotAnEnvelope, false, "entry not an object",
     "an entry of list is not an object"},
    {trNoTaskId, kJobNotAnEnvelope, false, "no task_id", "an entry has no task_id text, or an empty one"},
    {trNoTargetFile, kJobNotAnEnvelope, false, "no target_file", "an entry has no target_file text"},
    {trNoFileSize, kJobNotAnEnvelope, false, "no file_size", "file_size is missing or not a whole number"},
    {trFileSizeMismatch, kJobBadFileSize, false, "file_size mismatch",
     "file_size is not the number of Base64 characters of target_file"},
    {trCommandsTooLarge, kJobTooLarge, false, "commands too large",
     "the entry carries more than 1 MiB of printer commands"},
    {trBadBase64, kJobBadBase64, false, "bad Base64",
     "target_file is not one line of standard Base64 (alphabet, padding, no whitespace)"},
    {trRenderError, kJobLintError, false, "render error",
     "the renderer finds an error in the commands (the first error is the reason)"},
};

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

// Where a note about AValue points: a string's first character, any other
// value's first byte.
std::size_t Where(const TJsonValue& AValue) { return AValue.Begin + (AValue.IsString() ? 1 : 0); }

// A string's value, or any other value as it is written.
std::string ValueText(const TJsonValue& AValue, const std::string& ASource) {
  return AValue.IsString() ? AValue.Text : ASource.substr(AValue.Begin, AValue.End - AValue.Begin);
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

class TReader {
 public:
  TReader(const std::string& AText, const TEnvelopeReadOptions& AOptions)
      : FSource(AText), FOptions(AOptions) {}

  TEnvelopeRead Run() {
    if (FSource.size() > FOptions.MaxMessageBytes) {
      Refuse(trMessageTooLarge, -1, 0,
             "message of " + std::to_string(FSource.size()) + " bytes is over the " +
                 std::to_string(FOptions.MaxMessageBytes) + "-byte limit of the printer; it is not read",
             "the message is over " + std::to_string(FOptions.MaxMessageBytes) + " bytes");
      if (!FOptions.ReadOversized) return std::move(FOut);
    } else if (FSource.size() > FOptions.AdvisedMessageBytes) {
      Advise(-1, 0,
             "message of " + std::to_string(FSource.size()) + " bytes is over the " +
                 std::to_string(FOptions.AdvisedMessageBytes) + "-byte limit many cloud brokers set");
    }
    const std::string* text = &FSource;
    std::string stripped;
    if (FSource.size() >= 3 && FSource.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      Refuse(trByteOrderMark, -1, 0, "byte order mark before the JSON text; a printer reads no JSON",
             "not a valid envelope: a byte order mark before the JSON text");
      stripped = FSource.substr(3);
      text = &stripped;
      FShift = 3;
    }
    TJsonValue root;
    try {
      root = ParseJson(*text, 16);
    } catch (const EJsonError& e) {
      Refuse(trNotJson, -1, e.Offset() + FShift, "not valid JSON: " + e.Reason(),
             "not a valid envelope: JSON: " + e.Reason() + " at byte " + std::to_string(e.Offset() + FShift));
      return std::move(FOut);
    }
    FText = text;
    if (!root.IsObject()) {
      Refuse(trNotAnObject, -1, FShift, "the envelope is not a JSON object",
             "not a valid envelope: not a JSON object");
      return std::move(FOut);
    }
    const TJsonValue* list = root.Member("list");
    if (list != nullptr && list->IsArray()) {
      // Every entry's task id where it can be read, so a refusal of the
      // whole message still answers entry by entry.
      FOut.Entries.resize(list->Items.size());
      for (std::size_t k = 0; k < list->Items.size(); ++k) {
        const TJsonValue& entry = list->Items[k];
        const TJsonValue* id = entry.IsObject() ? entry.Member("task_id") : nullptr;
        if (id != nullptr && id->IsString()) {
          FOut.Entries[k].TaskId = id->Text;
          FOut.Entries[k].HasTaskId = !id->Text.empty();
        }
      }
    }

    const TJsonValue* kind = root.Member("kind");
    const std::string kindReason = "not a valid envelope: kind is not PRINT_TASK";
    if (kind == nullptr)
      Refuse(trWrongKind, -1, FShift, "member \"kind\" is missing", kindReason);
    else if (!kind->IsString() || kind->Text != "PRINT_TASK")
      Refuse(trWrongKind, -1, Where(*kind) + FShift, "kind is \"" + Value(*kind) + "\", not \"PRINT_TASK\"",
             kindReason);

    const TJsonValue* dvsno = root.Member("dvsno");
    if (dvsno == nullptr || !dvsno->IsString())
      Refuse(trNoDvsno, -1, (dvsno ? Where(*dvsno) : 0) + FShift,
             dvsno ? "dvsno is not a string" : "member \"dvsno\" is missing",
             "not a valid envelope: no dvsno");

    const std::string listReason = "not a valid envelope: no list of tasks";
    if (list == nullptr)
      Refuse(trNoList, -1, FShift, "member \"list\" is missing", listReason);
    else if (!list->IsArray())
      Refuse(trNoList, -1, Where(*list) + FShift, "member \"list\" is not an array", listReason);
    else if (list->Items.empty())
      Refuse(trNoList, -1, Where(*list) + FShift, "the list has no entries", listReason);

    const TJsonValue* count = root.Member("count");
    const long long n = CountValue(count);
    if (count == nullptr)
      Refuse(trNoCount, -1, FShift, "member \"count\" is missing", "not a valid envelope: no count");
    else if (n < 0)
      Refuse(trNoCount, -1, Where(*count) + FShift, "count \"" + Value(*count) + "\" is not a number",
             "not a valid envelope: no count");
    else if (list != nullptr && list->IsArray() && static_cast<unsigned long long>(n) != list->Items.size())
      Refuse(trCountMismatch, -1, Where(*count) + FShift,
             "count is " + std::to_string(n) + " but the list has " + std::to_string(list->Items.size()) +
                 " entries",
             "not a valid envelope: count " + std::to_string(n) + " but " +
                 std::to_string(list->Items.size()) + " entries in list");

    if (!FOptions.Serial.empty() && dvsno != nullptr && dvsno->IsString() && dvsno->Text != FOptions.Serial)
      Refuse(trWrongPrinter, -1, Where(*dvsno) + FShift,
             "dvsno \"" + dvsno->Text + "\" is not this printer's (" + FOptions.Serial + ")",
             "dvsno " + dvsno->Text + " is not this printer (" + FOptions.Serial + ")");

    if (list != nullptr && list->IsArray())
      for (std::size_t k = 0; k < list->Items.size(); ++k) ReadEntry(list->Items[k], static_cast<int>(k));
    return std::move(FOut);
  }

 private:
  std::string Value(const TJsonValue& AValue) const { return ValueText(AValue, *FText); }

  void Refuse(TTaskRefusal ARefusal, int AEntry, std::size_t AOffset, std::string AText,
              std::string AReason) {
    if (AEntry < 0 && FOut.Refusal == trNone) {
      FOut.Refusal = ARefusal;
      FOut.Reason = AReason;
    }
    if (AEntry >= 0) {
      TEnvelopeEntry& e = FOut.Entries[static_cast<std::size_t>(AEntry)];
      if (e.Refusal == trNone) {
        e.Refusal = ARefusal;
        e.Reason = AReason;
      }
    }
    FOut.Notes.push_back({ARefusal, AEntry, AOffset, std::move(AText), std::move(AReason)});
  }
  void Advise(int AEntry, std::size_t AOffset, std::string AText) {
    FOut.Notes.push_back({trNone, AEntry, AOffset, std::move(AText), std::string()});
  }

  void ReadEntry(const TJsonValue& AEntry, int AIndex) {
    TEnvelopeEntry& job = FOut.Entries[static_cast<std::size_t>(AIndex)];
    const std::size_t at = Where(AEntry) + FShift;
    job.TargetOffset = at;
    const std::string which = "entry " + std::to_string(AIndex + 1) + ": ";
    if (!AEntry.IsObject()) {
      Refuse(trEntryNotAnObject, AIndex, at, which + "not an object", "an entry of list is not an object");
      return;
    }
    const TJsonValue* id = AEntry.Member("task_id");
    if (id == nullptr || !id->IsString() || id->Text.empty())
      Refuse(trNoTaskId, AIndex, id ? Where(*id) + FShift : at,
             which + (id == nullptr     ? "member \"task_id\" is missing"
                      : !id->IsString() ? "task_id is not a string"
                                        : "task_id is empty"),
             "an entry of list has no task_id");
    if (!AEntry.Member("usbidx")) Advise(AIndex, at, which + "member \"usbidx\" is missing");
    const TJsonValue* target = AEntry.Member("target_file");
    if (target == nullptr || !target->IsString()) {
      Refuse(trNoTargetFile, AIndex, (target ? Where(*target) : Where(AEntry)) + FShift,
             which + (target ? "target_file is not a string" : "member \"target_file\" is missing"),
             "the entry has no target_file");
    }
    const TJsonValue* size = AEntry.Member("file_size");
    const long long fileSize = CountValue(size);
    if (size == nullptr)
      Refuse(trNoFileSize, AIndex, at, which + "member \"file_size\" is missing",
             "the entry has no file_size");
    else if (fileSize < 0)
      Refuse(trNoFileSize, AIndex, Where(*size) + FShift,
             which + "file_size \"" + Value(*size) + "\" is not a number", "the entry has no file_size");
    if (target == nullptr || !target->IsString()) return;
    const std::string& b64 = target->Text;
    job.TargetOffset = Where(*target) + FShift;
    if (fileSize >= 0 && static_cast<unsigned long long>(fileSize) != b64.size())
      Refuse(trFileSizeMismatch, AIndex, Where(*size) + FShift,
             which + "file_size is " + std::to_string(fileSize) + " but target_file has " +
                 std::to_string(b64.size()) + " Base64 characters",
             "file_size " + std::to_string(fileSize) + " is not the length of target_file (" +
                 std::to_string(b64.size()) + ")");
    const std::string tooLarge = "the job is over 1 MB";
    const std::string tooLargeText =
        which + "more than " + std::to_string(FOptions.MaxCommandBytes) + " bytes of printer commands";
    // Checked before decoding, so an oversized job costs no memory.
    if (b64.size() / 4 * 3 > FOptions.MaxCommandBytes + 2) {
      Refuse(trCommandsTooLarge, AIndex, job.TargetOffset, tooLargeText, tooLarge);
      return;
    }
    std::string clean;
    clean.reserve(b64.size());
    for (char c : b64)
      if (c != ' ' && c != '\r' && c != '\n' && c != '\t') clean += c;
    const std::string badBase64 = "target_file is not valid Base64";
    if (clean.size() != b64.size())
      Refuse(trBadBase64, AIndex, job.TargetOffset,
             which + "target_file has whitespace inside its Base64 text", badBase64);
    try {
      std::vector<uint8_t> bytes = DecodePrintBase64(clean);
      if (bytes.size() > FOptions.MaxCommandBytes) {
        Refuse(trCommandsTooLarge, AIndex, job.TargetOffset, tooLargeText, tooLarge);
        return;
      }
      if (FOptions.Decode) {
        job.Bytes = std::move(bytes);
        job.Decoded = true;
      }
    } catch (const EPrintError&) {
      std::size_t bad = 0;
      while (bad < clean.size() && IsBase64Char(clean[bad])) ++bad;
      const std::string why = clean.size() % 4
                                  ? "its length " + std::to_string(clean.size()) + " is not a multiple of 4"
                                  : "character " + std::to_string(bad + 1) + " is not in the alphabet";
      Refuse(trBadBase64, AIndex, job.TargetOffset, which + "target_file is not valid Base64 (" + why + ")",
             badBase64);
    }
  }

  const std::string& FSource;
  const std::string* FText = nullptr;
  const TEnvelopeReadOptions& FOptions;
  std::size_t FShift = 0;
  TEnvelopeRead FOut;
};

}  // namespace

const std::vector<TTaskRefusalRow>& TaskRefusalTable() { return kRefusalTable; }

const TTaskRefusalRow& TaskRefusalRow(TTaskRefusal ARefusal) {
  for (const TTaskRefusalRow& row : kRefusalTable)
    if (row.Refusal == ARefusal) return row;
  throw std::out_of_range("no refusal row");
}

bool TEnvelopeRead::Refused() const {
  if (Refusal != trNone) return true;
  for (const TEnvelopeEntry& e : Entries)
    if (e.Refusal != trNone) return true;
  return false;
}

TEnvelopeRead ReadTaskEnvelope(const std::string& AText, const TEnvelopeReadOptions& AOptions) {
  return TReader(AText, AOptions).Run();
}

bool LooksLikeEnvelope(const uint8_t* AData, std::size_t ASize) {
  std::size_t i = 0;
  if (ASize >= 3 && AData[0] == 0xEF && AData[1] == 0xBB && AData[2] == 0xBF) i = 3;
  while (i < ASize && (AData[i] == ' ' || AData[i] == '\t' || AData[i] == '\r' || AData[i] == '\n')) ++i;
  return i < ASize && AData[i] == '{';
}

bool IsPrintTaskText(const std::string& AText) {
  if (AText.find("PRINT_TASK") == std::string::npos) return false;
  if (!LooksLikeEnvelope(reinterpret_cast<const uint8_t*>(AText.data()), AText.size())) return false;
  TJsonValue root;
  try {
    std::size_t from = AText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    root = ParseJson(from ? AText.substr(from) : AText, 16);
  } catch (const EJsonError&) {
    return false;
  }
  const TJsonValue* kind = root.IsObject() ? root.Member("kind") : nullptr;
  return kind != nullptr && kind->IsString() && kind->Text == "PRINT_TASK";
}

bool PresetEnvelope(const std::string& AName, std::string& AEnvelope) {
  if (AName == "buzzer")
    AEnvelope = BuzzerEnvelope();
  else if (AName == "cutter")
    AEnvelope = CutterEnvelope();
  else if (AName == "receipt-mode")
    AEnvelope = PrintModeEnvelope(0);
  else if (AName == "label-mode")
    AEnvelope = PrintModeEnvelope(1);
  else if (AName == "gbk")
    AEnvelope = CharsetEnvelope(0);
  else if (AName == "utf8")
    AEnvelope = CharsetEnvelope(1);
  else if (AName == "receipt-sample")
    AEnvelope = SampleEnvelope(0);
  else if (AName == "label-sample")
    AEnvelope = SampleEnvelope(1);
  else
    return false;
  return true;
}

std::string NewTaskId() {
  static thread_local std::mt19937_64 rng = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  uint64_t hi = rng(), lo = rng();
  // Version 4, variant 10.
  hi = (hi & ~uint64_t{0xF000}) | uint64_t{0x4000};
  lo = (lo & ~(uint64_t{3} << 62)) | (uint64_t{2} << 62);
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
    const uint64_t word = i < 16 ? hi : lo;
    out += kHex[(word >> (60 - 4 * (i % 16))) & 15];
  }
  return out;
}

namespace {

struct TSplice {
  std::size_t Begin, End;
  std::string Value;
};

std::string ApplySplices(const std::string& AText, std::vector<TSplice> ASplices) {
  std::sort(ASplices.begin(), ASplices.end(),
            [](const TSplice& a, const TSplice& b) { return a.Begin < b.Begin; });
  std::string out;
  out.reserve(AText.size() + 64);
  std::size_t at = 0;
  for (const TSplice& s : ASplices) {
    out.append(AText, at, s.Begin - at);
    out += s.Value;
    at = s.End;
  }
  out.append(AText, at, std::string::npos);
  return out;
}

}  // namespace

TTaskEnvelopeTemplate::TTaskEnvelopeTemplate(std::string AEnvelope) : FText(std::move(AEnvelope)) {
  const TJsonValue root = ParseJson(FText);
  const TJsonValue* dvsno = root.IsObject() ? root.Member("dvsno") : nullptr;
  if (dvsno == nullptr || !dvsno->IsString()) throw std::runtime_error("the envelope has no \"dvsno\" text");
  FDvsno = {dvsno->Begin, dvsno->End};
  const TJsonValue* list = root.Member("list");
  if (list != nullptr && list->IsArray()) {
    for (const TJsonValue& entry : list->Items) {
      const TJsonValue* id = entry.IsObject() ? entry.Member("task_id") : nullptr;
      if (id != nullptr && id->IsString()) FTaskIds.emplace_back(id->Begin, id->End);
    }
  }
  if (FTaskIds.empty()) throw std::runtime_error("the envelope has no entry with a \"task_id\" text");
}

std::string TTaskEnvelopeTemplate::Make(const std::string& ADvsno,
                                        const std::vector<std::string>& ATaskIds) const {
  std::vector<TSplice> splices;
  splices.push_back({FDvsno.first, FDvsno.second, JsonQuote(ADvsno)});
  for (std::size_t i = 0; i < FTaskIds.size(); ++i) {
    const std::string& id = ATaskIds.empty() ? std::string() : ATaskIds[std::min(i, ATaskIds.size() - 1)];
    splices.push_back({FTaskIds[i].first, FTaskIds[i].second, JsonQuote(id)});
  }
  return ApplySplices(FText, std::move(splices));
}

std::string ReaddressEnvelope(const std::string& AEnvelope, const std::string& ADvsno,
                              const std::string& ATaskId) {
  if (ADvsno.empty() && ATaskId.empty()) return AEnvelope;
  TJsonValue root;
  try {
    root = ParseJson(AEnvelope, 16);
  } catch (const EJsonError&) {
    return AEnvelope;
  }
  if (!root.IsObject()) return AEnvelope;
  std::vector<TSplice> splices;
  if (const TJsonValue* dvsno = root.Member("dvsno");
      !ADvsno.empty() && dvsno != nullptr && dvsno->IsString())
    splices.push_back({dvsno->Begin, dvsno->End, JsonQuote(ADvsno)});
  const TJsonValue* list = root.Member("list");
  if (!ATaskId.empty() && list != nullptr && list->IsArray())
    for (const TJsonValue& entry : list->Items) {
      const TJsonValue* id = entry.IsObject() ? entry.Member("task_id") : nullptr;
      if (id != nullptr && id->IsString()) splices.push_back({id->Begin, id->End, JsonQuote(ATaskId)});
    }
  return ApplySplices(AEnvelope, std::move(splices));
}
