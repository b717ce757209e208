#include "JobReader.h"

#include <utility>

TFinding EnvelopeNoteFinding(const TEnvelopeNote& ANote) {
  return {ANote.Refusal != trNone ? fsError : fsWarning, -1, ANote.Offset, ANote.Text, ANote.Refusal};
}

std::vector<TJobBytes> ReadEnvelopeJobs(const std::string& AText, const TJobReadOptions& AOptions,
                                        TLint& ALint, bool* ARefused) {
  TEnvelopeReadOptions read;
  read.Serial = AOptions.Serial;
  read.AdvisedMessageBytes = AOptions.AdvisedMessageBytes;
  read.ReadOversized = AOptions.ReadOversized;
  TEnvelopeRead envelope = ReadTaskEnvelope(AText, read);
  if (ARefused) *ARefused = envelope.Refused();
  for (const TEnvelopeNote& note : envelope.Notes) {
    ALint.AddRefusal(note.Refusal, -1, note.Offset, note.Text);
  }
  std::vector<TJobBytes> jobs;
  jobs.reserve(envelope.Entries.size());
  for (TEnvelopeEntry& e : envelope.Entries) {
    TJobBytes job;
    job.Bytes = std::move(e.Bytes);
    job.Ok = e.Decoded;
    job.EnvelopeOffset = e.TargetOffset;
    job.Refused = envelope.Refusal != trNone || e.Refusal != trNone;
    jobs.push_back(std::move(job));
  }
  return jobs;
}

std::vector<TJobBytes> ReadEnvelopeJobs(const std::string& AText, size_t AAdvisedMessageBytes, TLint& ALint) {
  TJobReadOptions options;
  options.AdvisedMessageBytes = AAdvisedMessageBytes;
  return ReadEnvelopeJobs(AText, options, ALint);
}
