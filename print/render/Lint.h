// Lint findings: what is wrong with an envelope or a job, with its place.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "TaskEnvelope.h"

enum TFindingSeverity { fsInfo, fsWarning, fsError };

struct TFinding {
  TFindingSeverity Severity = fsWarning;
  int Job = -1;       // entry of the envelope's list; -1: the envelope itself
  size_t Offset = 0;  // in the job's bytes, or in the envelope text for Job -1
  std::string Text;
  // Every error is a reason a printer refuses the job: which one (the
  // refusal table, TaskEnvelope.h). trNone for warnings and notes.
  TTaskRefusal Refusal = trNone;
};

class TLint {
 public:
  // An error found while drawing is a render error (trRenderError).
  void Add(TFindingSeverity ASeverity, int AJob, size_t AOffset, std::string AText);
  // A finding of the envelope reader: an error exactly when ARefusal is set.
  void AddRefusal(TTaskRefusal ARefusal, int AJob, size_t AOffset, std::string AText);
  const std::vector<TFinding>& Findings() const { return FFindings; }
  std::vector<TFinding>& Findings() { return FFindings; }
  bool HasErrors() const;

 private:
  void AddFinding(TFinding&& AFinding);
  std::vector<TFinding> FFindings;
};

const char* SeverityName(TFindingSeverity ASeverity);
// "error   envelope@000000  not valid JSON: ..." / "warning job 1@00001A  unknown command"
std::string FormatFinding(const TFinding& AFinding);
std::string FormatFindings(const std::vector<TFinding>& AFindings);
