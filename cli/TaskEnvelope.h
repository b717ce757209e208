// Print task envelopes addressed to one printer: the serial in `dvsno` and
// a task id per entry of `list`, put into an envelope text in place, so
// every other byte (the CR LF lines, the indentation) stays as it was.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The envelope of a named preset: buzzer, cutter, receipt-mode, label-mode,
// gbk, utf8, receipt-sample, label-sample. False for an unknown name.
bool PresetEnvelope(const std::string& AName, std::string& AEnvelope);

// A fresh task id: a random (version 4) GUID in upper-case hexadecimal,
// 8-4-4-4-12 groups without braces, like the envelope's fixed one.
std::string NewTaskId();

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
