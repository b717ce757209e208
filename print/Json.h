// A small strict JSON reader and writer: print task envelopes, printer
// replies, the jobs report, the renderer's envelope reader. Values remember
// where they stand in the source text, so a member's value can be replaced in
// place without touching the rest of the bytes, and a finding can point at it.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

// what(): "JSON: <reason> at byte <offset>".
class EJsonError : public std::runtime_error {
 public:
  EJsonError(const std::string& AReason, std::size_t AOffset)
      : std::runtime_error("JSON: " + AReason + " at byte " + std::to_string(AOffset)),
        FReason(AReason),
        FOffset(AOffset) {}
  const std::string& Reason() const { return FReason; }
  std::size_t Offset() const { return FOffset; }

 private:
  std::string FReason;
  std::size_t FOffset;
};

struct TJsonValue {
  enum TKind { jkNull, jkBool, jkNumber, jkString, jkArray, jkObject };
  TKind Kind = jkNull;
  bool Bool = false;
  std::string Text;  // string value (decoded), or the number as written
  std::vector<TJsonValue> Items;
  // Object members in order: MemberNames[i] names MemberValues[i].
  std::vector<std::string> MemberNames;
  std::vector<TJsonValue> MemberValues;
  // The value's bytes in the source: [Begin, End).
  std::size_t Begin = 0, End = 0;

  bool IsString() const { return Kind == jkString; }
  bool IsObject() const { return Kind == jkObject; }
  bool IsArray() const { return Kind == jkArray; }
  // The first member named AName, or null.
  const TJsonValue* Member(const std::string& AName) const;
};

// Parses one JSON value (RFC 8259; surrounding whitespace allowed, nothing
// else). Nesting deeper than AMaxDepth is refused. Throws EJsonError with the
// byte offset of the fault.
TJsonValue ParseJson(const std::string& AText, int AMaxDepth = 64);

// AText as a JSON string literal, quotes included (UTF-8 passes unchanged,
// control characters are escaped).
std::string JsonQuote(const std::string& AText);
