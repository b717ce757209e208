// The print task envelope as a printer receives it: read with every problem
// found on the way, checked against the one table of reasons a printer
// refuses a message or an entry, re-addressed to a printer (dvsno) with task
// ids in place, and the named presets written. MakePrintTaskEnvelope
// (PrintTask.h) writes the seed's thirteen-line text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "PrintTask.h"
#include "TaskReply.h"

// Messages above this size are refused without being read.
inline constexpr std::size_t kMaxPrintTaskMessageBytes = 4 * 1024 * 1024;
// The most printer commands one entry may carry.
inline constexpr std::size_t kMaxPrintTaskCommandBytes = 1024 * 1024;
// Messages above this size are more than many brokers pass on: advice only.
inline constexpr std::size_t kAdvisedPrintTaskMessageBytes = 1024 * 1024;

// Every reason a printer refuses a message or one entry of its list. The
// order is the order a printer checks in: the first one found is the reply.
enum TTaskRefusal {
  trNone,
  trMessageTooLarge,   // the message is over kMaxPrintTaskMessageBytes (4 MiB)
  trByteOrderMark,     // a byte order mark before the JSON text
  trNotJson,           // not JSON, or text after it
  trNotAnObject,       // the JSON text is not an object
  trWrongKind,         // kind missing or not "PRINT_TASK"
  trNoDvsno,           // dvsno missing or not a string
  trNoList,            // list missing, not an array, or empty
  trNoCount,           // count missing or not a whole number
  trCountMismatch,     // count is not the number of entries
  trWrongPrinter,      // dvsno is another printer's
  trEntryNotAnObject,  // an entry of list is not an object
  trNoTaskId,          // an entry without a task_id text
  trNoTargetFile,      // an entry without a target_file text
  trNoFileSize,        // file_size missing or not a whole number
  trFileSizeMismatch,  // file_size is not the length of target_file
  trCommandsTooLarge,  // more than kMaxPrintTaskCommandBytes of commands
  trBadBase64,         // target_file is not one line of valid Base64
  trRenderError,       // the renderer found an error in the commands
  trRefusalCount
};

// One row of the refusal table: the reply status and what the reason says.
struct TTaskRefusalRow {
  TTaskRefusal Refusal;
  const char* Status;     // the PRINT_TASK_DONE status
  bool WholeMessage;      // every entry is refused with it
  const char* Name;       // a short name (documentation, tests)
  const char* Condition;  // when it applies, in words
};

// The table, one row per TTaskRefusal except trNone, in TTaskRefusal order.
const std::vector<TTaskRefusalRow>& TaskRefusalTable();
const TTaskRefusalRow& TaskRefusalRow(TTaskRefusal ARefusal);

// Something found while reading an envelope. A note with a refusal is one
// the printer refuses; the others are advice only.
struct TEnvelopeNote {
  TTaskRefusal Refusal = trNone;
  int Entry = -1;          // entry of list; -1: the envelope itself
  std::size_t Offset = 0;  // in the envelope text
  std::string Text;        // the finding, as lint shows it
  std::string Reason;      // the reply's reason (refusals only)
};

struct TEnvelopeEntry {
  std::string TaskId;  // empty when the entry has none
  bool HasTaskId = false;
  std::vector<uint8_t> Bytes;
  bool Decoded = false;           // Bytes hold the entry's commands
  std::size_t TargetOffset = 0;   // where target_file's text starts
  TTaskRefusal Refusal = trNone;  // the first refusal of this entry
  std::string Reason;
};

struct TEnvelopeReadOptions {
  // Non-empty: the printer's serial, checked against dvsno.
  std::string Serial;
  std::size_t MaxMessageBytes = kMaxPrintTaskMessageBytes;
  std::size_t MaxCommandBytes = kMaxPrintTaskCommandBytes;
  // A note (not a refusal) for messages above this size.
  std::size_t AdvisedMessageBytes = kAdvisedPrintTaskMessageBytes;
  // Read a message over MaxMessageBytes all the same (still refused).
  bool ReadOversized = false;
  // Decode the entries' Base64 (false: only check them).
  bool Decode = true;
};

struct TEnvelopeRead {
  std::vector<TEnvelopeNote> Notes;
  std::vector<TEnvelopeEntry> Entries;
  // The first refusal of the whole message (trNone: the entries decide).
  TTaskRefusal Refusal = trNone;
  std::string Reason;
  // True when the message is refused as a whole or any entry is.
  bool Refused() const;
};

// Reads AText as a printer does, notes every problem (a printer stops at
// the first; the notes go on where they can) and decodes the entries.
TEnvelopeRead ReadTaskEnvelope(const std::string& AText,
                               const TEnvelopeReadOptions& AOptions = TEnvelopeReadOptions());

// True when the text looks like an envelope rather than command bytes (its
// first non-blank character, after a byte order mark, is '{').
bool LooksLikeEnvelope(const uint8_t* AData, std::size_t ASize);
// A print task at a glance: a JSON object whose kind is "PRINT_TASK".
bool IsPrintTaskText(const std::string& AText);

// The envelope of a named preset: buzzer, cutter, receipt-mode, label-mode,
// gbk, utf8, receipt-sample, label-sample. False for an unknown name.
bool PresetEnvelope(const std::string& AName, std::string& AEnvelope);

// A fresh task id: a random (version 4) GUID in upper-case hexadecimal,
// 8-4-4-4-12 groups without braces, like the envelope's fixed one.
std::string NewTaskId();

// An envelope addressed to one printer: the serial in `dvsno` and a task
// id per entry of `list`, put into the text in place, so every other byte
// (the CR LF lines, the indentation) stays as it was.
class TTaskEnvelopeTemplate {
 public:
  // Reads AEnvelope; throws EJsonError when it is not JSON, std::runtime_error
  // when it has no `dvsno` string or no entry with a `task_id` string.
  explicit TTaskEnvelopeTemplate(std::string AEnvelope);

  // How many task ids the envelope carries (entries of `list` with a task_id).
  std::size_t TaskCount() const { return FTaskIds.size(); }
  // The envelope with ADvsno and ATaskIds (one per entry, in list order;
  // fewer: the last one repeats). Values are written as JSON strings.
  std::string Make(const std::string& ADvsno, const std::vector<std::string>& ATaskIds) const;

 private:
  std::string FText;
  std::pair<std::size_t, std::size_t> FDvsno;
  std::vector<std::pair<std::size_t, std::size_t>> FTaskIds;
};

// Re-addresses AEnvelope in place, leniently: a non-empty ADvsno replaces
// dvsno's value, a non-empty ATaskId every task_id's value. Text that is not
// an envelope comes back unchanged.
std::string ReaddressEnvelope(const std::string& AEnvelope, const std::string& ADvsno,
                              const std::string& ATaskId);
