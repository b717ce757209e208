#include "Json.h"

#include <cstdint>

const TJsonValue* TJsonValue::Member(const std::string& AName) const {
  for (std::size_t i = 0; i < MemberNames.size(); ++i)
    if (MemberNames[i] == AName) return &MemberValues[i];
  return nullptr;
}

namespace {

class TJsonReader {
 public:
  TJsonReader(const std::string& AText, int AMaxDepth) : FText(AText), FMaxDepth(AMaxDepth) {}

  TJsonValue Document() {
    SkipSpace();
    TJsonValue v = Value(0);
    SkipSpace();
    if (FPos != FText.size()) Fail("unexpected text after the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& AWhat) const { throw EJsonError(AWhat, FPos); }
  void SkipSpace() {
    while (FPos < FText.size() &&
           (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\r' || FText[FPos] == '\n'))
      ++FPos;
  }
  bool Peek(char AChar) const { return FPos < FText.size() && FText[FPos] == AChar; }
  void Expect(char AChar) {
    if (!Peek(AChar)) Fail(std::string("'") + AChar + "' expected");
    ++FPos;
  }
  void Literal(const char* AWord) {
    for (const char* p = AWord; *p != '\0'; ++p) {
      if (!Peek(*p)) Fail("unknown literal");
      ++FPos;
    }
  }

  TJsonValue Value(int ADepth) {
    if (ADepth > FMaxDepth) Fail("nested too deeply");
    if (FPos >= FText.size()) Fail("value expected");
    TJsonValue v;
    v.Begin = FPos;
    const char c = FText[FPos];
    if (c == '{') {
      v.Kind = TJsonValue::jkObject;
      ++FPos;
      SkipSpace();
      if (Peek('}')) {
        ++FPos;
      } else {
        for (;;) {
          SkipSpace();
          if (!Peek('"')) Fail("member name expected");
          std::string name = String();
          SkipSpace();
          Expect(':');
          SkipSpace();
          v.MemberNames.push_back(std::move(name));
          v.MemberValues.push_back(Value(ADepth + 1));
          SkipSpace();
          if (Peek(',')) {
            ++FPos;
            continue;
          }
          Expect('}');
          break;
        }
      }
    } else if (c == '[') {
      v.Kind = TJsonValue::jkArray;
      ++FPos;
      SkipSpace();
      if (Peek(']')) {
        ++FPos;
      } else {
        for (;;) {
          SkipSpace();
          v.Items.push_back(Value(ADepth + 1));
          SkipSpace();
          if (Peek(',')) {
            ++FPos;
            continue;
          }
          Expect(']');
          break;
        }
      }
    } else if (c == '"') {
      v.Kind = TJsonValue::jkString;
      v.Text = String();
    } else if (c == 't') {
      Literal("true");
      v.Kind = TJsonValue::jkBool;
      v.Bool = true;
    } else if (c == 'f') {
      Literal("false");
      v.Kind = TJsonValue::jkBool;
    } else if (c == 'n') {
      Literal("null");
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.Kind = TJsonValue::jkNumber;
      Number();
      v.Text = FText.substr(v.Begin, FPos - v.Begin);
    } else {
      Fail("value expected");
    }
    v.End = FPos;
    return v;
  }

  void Digits() {
    if (FPos >= FText.size() || FText[FPos] < '0' || FText[FPos] > '9') Fail("digit expected");
    while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') ++FPos;
  }
  void Number() {
    if (Peek('-')) ++FPos;
    if (Peek('0'))
      ++FPos;
    else
      Digits();
    if (Peek('.')) {
      ++FPos;
      Digits();
    }
    if (Peek('e') || Peek('E')) {
      ++FPos;
      if (Peek('+') || Peek('-')) ++FPos;
      Digits();
    }
  }

  unsigned Hex4() {
    if (FPos + 4 > FText.size()) Fail("short \\u escape");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = FText[FPos++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<unsigned>(c - 'A' + 10);
      else
        Fail("bad \\u escape");
    }
    return v;
  }
  static void AppendUtf8(std::string& AOut, unsigned ACode) {
    if (ACode < 0x80) {
      AOut += static_cast<char>(ACode);
    } else if (ACode < 0x800) {
      AOut += static_cast<char>(0xC0 | (ACode >> 6));
      AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else if (ACode < 0x10000) {
      AOut += static_cast<char>(0xE0 | (ACode >> 12));
      AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
      AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else {
      AOut += static_cast<char>(0xF0 | (ACode >> 18));
      AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
      AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
      AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    }
  }

  std::string String() {
    Expect('"');
    std::string out;
    for (;;) {
      if (FPos >= FText.size()) Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(FText[FPos]);
      if (c == '"') {
        ++FPos;
        return out;
      }
      if (c < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        ++FPos;
        continue;
      }
      ++FPos;
      if (FPos >= FText.size()) Fail("unterminated string");
      const char e = FText[FPos++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = Hex4();
          if (code >= 0xD800 && code < 0xDC00) {
            if (FPos + 6 > FText.size() || FText[FPos] != '\\' || FText[FPos + 1] != 'u')
              Fail("lone surrogate");
            FPos += 2;
            const unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            Fail("lone surrogate");
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          --FPos;
          Fail("bad escape");
      }
    }
  }

  const std::string& FText;
  int FMaxDepth;
  std::size_t FPos = 0;
};

}  // namespace

TJsonValue ParseJson(const std::string& AText, int AMaxDepth) {
  return TJsonReader(AText, AMaxDepth).Document();
}

std::string JsonQuote(const std::string& AText) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  out.reserve(AText.size() + 2);
  out += '"';
  for (const char ch : AText) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}
