// A small strict JSON reader and writer for the CLI: print task envelopes,
// printer replies and the jobs report. Values remember where they stand in
// the source text, so a member's value can be replaced in place without
// touching the rest of the bytes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

class ECliJson : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCliJsonValue {
  enum TKind { jkNull, jkBool, jkNumber, jkString, jkArray, jkObject };
  TKind Kind = jkNull;
  bool Bool = false;
  std::string Text;  // string value (decoded), or the number as written
  std::vector<TCliJsonValue> Items;
  // Object members in order: MemberNames[i] names MemberValues[i].
  std::vector<std::string> MemberNames;
  std::vector<TCliJsonValue> MemberValues;
  // The value's bytes in the source: [Begin, End).
  std::size_t Begin = 0, End = 0;

  bool IsString() const { return Kind == jkString; }
  bool IsObject() const { return Kind == jkObject; }
  bool IsArray() const { return Kind == jkArray; }
  // The first member named AName, or null.
  const TCliJsonValue* Member(const std::string& AName) const;
};

// Parses one JSON value (RFC 8259; surrounding whitespace allowed, nothing
// else). Nesting deeper than AMaxDepth is refused. Throws ECliJson with the
// byte offset of the fault.
TCliJsonValue ParseCliJson(const std::string& AText, int AMaxDepth = 64);

// AText as a JSON string literal, quotes included (UTF-8 passes unchanged,
// control characters are escaped).
std::string CliJsonQuote(const std::string& AText);
