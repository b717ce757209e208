#include "JobReader.h"

#include <cctype>
#include <memory>
#include <stdexcept>
#include <utility>

#include "PrintTask.h"

namespace {

// Just enough JSON: objects keep their members in order, strings keep where
// they started in the text.
struct TJsonMember;

struct TJson {
  enum TKind { jNull, jBool, jNumber, jString, jArray, jObject } Kind = jNull;
  std::string Text;  // string value, or the number's text
  size_t Offset = 0;
  std::vector<TJson> Items;
  std::vector<TJsonMember> Members;

  const TJson* Member(const std::string& AName) const;
};

struct TJsonMember {
  std::string first;
  TJson second;
};

const TJson* TJson::Member(const std::string& AName) const {
  for (const TJsonMember& m : Members)
    if (m.first == AName) return &m.second;
  return nullptr;
}

class EJson : public std::runtime_error {
 public:
  EJson(const std::string& AText, size_t AOffset) : std::runtime_error(AText), Offset(AOffset) {}
  size_t Offset;
};

class TJsonParser {
 public:
  explicit TJsonParser(const std::string& AText) : FText(AText) {}

  TJson Parse() {
    TJson v = Value(0);
    Blank();
    if (FAt != FText.size()) throw EJson("text after the JSON value", FAt);
    return v;
  }

 private:
  void Blank() {
    while (FAt < FText.size() &&
           (FText[FAt] == ' ' || FText[FAt] == '\t' || FText[FAt] == '\r' || FText[FAt] == '\n'))
      ++FAt;
  }
  char Peek() {
    Blank();
    if (FAt >= FText.size()) throw EJson("unexpected end of text", FAt);
    return FText[FAt];
  }
  void Expect(char AChar) {
    if (Peek() != AChar) throw EJson(std::string("'") + AChar + "' expected", FAt);
    ++FAt;
  }

  TJson Value(int ADepth) {
    if (ADepth > 64) throw EJson("nested too deeply", FAt);
    const char c = Peek();
    TJson v;
    v.Offset = FAt;
    if (c == '{') {
      v.Kind = TJson::jObject;
      ++FAt;
      if (Peek() == '}') {
        ++FAt;
        return v;
      }
      for (;;) {
        if (Peek() != '"') throw EJson("member name expected", FAt);
        std::string name = String().Text;
        Expect(':');
        v.Members.push_back(TJsonMember{std::move(name), Value(ADepth + 1)});
        if (Peek() == ',') {
          ++FAt;
          continue;
        }
        Expect('}');
        return v;
      }
    }
    if (c == '[') {
      v.Kind = TJson::jArray;
      ++FAt;
      if (Peek() == ']') {
        ++FAt;
        return v;
      }
      for (;;) {
        v.Items.push_back(Value(ADepth + 1));
        if (Peek() == ',') {
          ++FAt;
          continue;
        }
        Expect(']');
        return v;
      }
    }
    if (c == '"') return String();
    for (const char* word : {"true", "false", "null"}) {
      if (FText.compare(FAt, std::char_traits<char>::length(word), word) == 0) {
        v.Kind = word[0] == 'n' ? TJson::jNull : TJson::jBool;
        v.Text = word;
        FAt += std::char_traits<char>::length(word);
        return v;
      }
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      v.Kind = TJson::jNumber;
      const size_t from = FAt;
      while (FAt < FText.size() &&
             (std::isdigit(static_cast<unsigned char>(FText[FAt])) || FText[FAt] == '-' ||
              FText[FAt] == '+' || FText[FAt] == '.' || FText[FAt] == 'e' || FText[FAt] == 'E'))
        ++FAt;
      v.Text = FText.substr(from, FAt - from);
      return v;
    }
    throw EJson("a JSON value expected", FAt);
  }

  TJson String() {
    TJson v;
    v.Kind = TJson::jString;
    v.Offset = FAt + 1;
    ++FAt;  // opening quote
    for (;;) {
      if (FAt >= FText.size()) throw EJson("unterminated string", v.Offset - 1);
      const char c = FText[FAt++];
      if (c == '"') return v;
      if (static_cast<unsigned char>(c) < 0x20) throw EJson("control character in a string", FAt - 1);
      if (c != '\\') {
        v.Text += c;
        continue;
      }
      if (FAt >= FText.size()) throw EJson("unterminated string", v.Offset - 1);
      const char e = FText[FAt++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          v.Text += e;
          break;
        case 'b':
          v.Text += '\b';
          break;
        case 'f':
          v.Text += '\f';
          break;
        case 'n':
          v.Text += '\n';
          break;
        case 'r':
          v.Text += '\r';
          break;
        case 't':
          v.Text += '\t';
          break;
        case 'u': {
          if (FAt + 4 > FText.size()) throw EJson("bad \\u escape", FAt - 2);
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) {
            const char h = FText[FAt++];
            code <<= 4;
            if (h >= '0' && h <= '9')
              code |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
              code |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
              code |= static_cast<unsigned>(h - 'A' + 10);
            else
              throw EJson("bad \\u escape", FAt - 1);
          }
          if (code < 0x80) {
            v.Text += static_cast<char>(code);
          } else if (code < 0x800) {
            v.Text += static_cast<char>(0xC0 | (code >> 6));
            v.Text += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            v.Text += static_cast<char>(0xE0 | (code >> 12));
            v.Text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            v.Text += static_cast<char>(0x80 | (code & 0x3F));
          }
          break;
        }
        default:
          throw EJson("bad escape in a string", FAt - 2);
      }
    }
  }

  const std::string& FText;
  size_t FAt = 0;
};

std::string ValueText(const TJson& AValue) {
  return AValue.Kind == TJson::jString ? AValue.Text : AValue.Text;
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
  TJson root;
  try {
    root = TJsonParser(text).Parse();
  } catch (const EJson& e) {
    ALint.Add(fsError, -1, e.Offset + shift, std::string("not valid JSON: ") + e.what());
    return jobs;
  }
  if (root.Kind != TJson::jObject) {
    ALint.Add(fsError, -1, shift, "the envelope is not a JSON object");
    return jobs;
  }
  for (const char* name : {"dvsno", "kind", "count"})
    if (!root.Member(name))
      ALint.Add(fsWarning, -1, shift, std::string("member \"") + name + "\" is missing");
  if (const TJson* kind = root.Member("kind"); kind && ValueText(*kind) != "PRINT_TASK")
    ALint.Add(fsWarning, -1, kind->Offset + shift,
              "kind is \"" + ValueText(*kind) + "\", not \"PRINT_TASK\"");
  const TJson* list = root.Member("list");
  if (!list || list->Kind != TJson::jArray) {
    ALint.Add(fsError, -1, (list ? list->Offset : 0) + shift,
              list ? "member \"list\" is not an array" : "member \"list\" is missing");
    return jobs;
  }
  if (list->Items.empty()) ALint.Add(fsError, -1, list->Offset + shift, "the list has no entries");
  if (const TJson* count = root.Member("count")) {
    long long n = 0;
    if (!IsDecimal(ValueText(*count), n))
      ALint.Add(fsWarning, -1, count->Offset + shift, "count \"" + ValueText(*count) + "\" is not a number");
    else if (n != static_cast<long long>(list->Items.size()))
      ALint.Add(fsWarning, -1, count->Offset + shift,
                "count is " + std::to_string(n) + " but the list has " + std::to_string(list->Items.size()) +
                    " entries");
  }
  for (size_t k = 0; k < list->Items.size(); ++k) {
    const TJson& entry = list->Items[k];
    TJobBytes job;
    job.EnvelopeOffset = entry.Offset + shift;
    const std::string which = "entry " + std::to_string(k + 1) + ": ";
    if (entry.Kind != TJson::jObject) {
      ALint.Add(fsError, -1, entry.Offset + shift, which + "not an object");
      jobs.push_back(std::move(job));
      continue;
    }
    for (const char* name : {"task_id", "usbidx", "file_size"})
      if (!entry.Member(name))
        ALint.Add(fsWarning, -1, entry.Offset + shift, which + "member \"" + name + "\" is missing");
    const TJson* target = entry.Member("target_file");
    if (!target || target->Kind != TJson::jString) {
      ALint.Add(fsError, -1, (target ? target->Offset : entry.Offset) + shift,
                which + (target ? "target_file is not a string" : "member \"target_file\" is missing"));
      jobs.push_back(std::move(job));
      continue;
    }
    job.EnvelopeOffset = target->Offset + shift;
    std::string b64 = target->Text;
    if (const TJson* size = entry.Member("file_size")) {
      long long n = 0;
      if (!IsDecimal(ValueText(*size), n))
        ALint.Add(fsWarning, -1, size->Offset + shift,
                  which + "file_size \"" + ValueText(*size) + "\" is not a number");
      else if (n != static_cast<long long>(b64.size()))
        ALint.Add(fsWarning, -1, size->Offset + shift,
                  which + "file_size is " + std::to_string(n) + " but target_file has " +
                      std::to_string(b64.size()) + " Base64 characters");
    }
    std::string clean;
    clean.reserve(b64.size());
    for (char c : b64)
      if (c != ' ' && c != '\r' && c != '\n' && c != '\t') clean += c;
    if (clean.size() != b64.size())
      ALint.Add(fsWarning, -1, target->Offset + shift,
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
      ALint.Add(fsError, -1, target->Offset + shift, which + "target_file is not valid Base64 (" + why + ")");
    }
    jobs.push_back(std::move(job));
  }
  return jobs;
}
