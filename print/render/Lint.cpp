#include "Lint.h"

#include <cstdio>

void TLint::Add(TFindingSeverity ASeverity, int AJob, size_t AOffset, std::string AText) {
  AddFinding({ASeverity, AJob, AOffset, std::move(AText), ASeverity == fsError ? trRenderError : trNone});
}

void TLint::AddRefusal(TTaskRefusal ARefusal, int AJob, size_t AOffset, std::string AText) {
  AddFinding({ARefusal != trNone ? fsError : fsWarning, AJob, AOffset, std::move(AText), ARefusal});
}

void TLint::AddFinding(TFinding&& AFinding) {
  // A flood of identical findings (a job of garbage) says nothing more after
  // a while; the count is bounded so memory stays bounded too.
  static const size_t kMaxFindings = 1000;
  if (FFindings.size() == kMaxFindings) {
    FFindings.push_back(
        {fsWarning, AFinding.Job, AFinding.Offset, "too many findings; the rest are not reported"});
    return;
  }
  if (FFindings.size() > kMaxFindings) {
    // Errors still count (each is a reason to refuse), up to a second bound.
    if (AFinding.Severity == fsError && FFindings.size() < 2 * kMaxFindings)
      FFindings.push_back(std::move(AFinding));
    return;
  }
  FFindings.push_back(std::move(AFinding));
}

bool TLint::HasErrors() const {
  for (const TFinding& f : FFindings)
    if (f.Severity == fsError) return true;
  return false;
}

const char* SeverityName(TFindingSeverity ASeverity) {
  switch (ASeverity) {
    case fsInfo:
      return "info";
    case fsWarning:
      return "warning";
    case fsError:
      return "error";
  }
  return "?";
}

std::string FormatFinding(const TFinding& AFinding) {
  char place[64];
  if (AFinding.Job < 0)
    std::snprintf(place, sizeof place, "envelope@%06zX", AFinding.Offset);
  else
    std::snprintf(place, sizeof place, "job %d@%06zX", AFinding.Job + 1, AFinding.Offset);
  char head[96];
  std::snprintf(head, sizeof head, "%-8s%-18s ", SeverityName(AFinding.Severity), place);
  return head + AFinding.Text;
}

std::string FormatFindings(const std::vector<TFinding>& AFindings) {
  std::string s;
  for (const TFinding& f : AFindings) {
    s += FormatFinding(f);
    s += '\n';
  }
  return s;
}
