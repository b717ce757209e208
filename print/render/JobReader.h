// The job reader: a print task envelope read as a printer reads it
// (TaskEnvelope.h), turned into the jobs' command bytes, with the reader's
// notes as lint findings: a note the printer refuses is an error, the
// others are warnings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Lint.h"
#include "TaskEnvelope.h"

struct TJobBytes {
  std::vector<uint8_t> Bytes;
  bool Ok = false;            // false: the entry had no usable target_file
  size_t EnvelopeOffset = 0;  // where its target_file text starts
  bool Refused = false;       // a printer refuses this entry (or the whole message)
};

struct TJobReadOptions {
  // Above this a message is worth a warning; the printer reads up to
  // kMaxPrintTaskMessageBytes.
  size_t AdvisedMessageBytes = kAdvisedPrintTaskMessageBytes;
  // Non-empty: the printer's serial, checked against dvsno.
  std::string Serial;
  // Read a message over the size limit all the same.
  bool ReadOversized = false;
};

// Reads every entry of the envelope's list; findings have job -1.
// ARefused (when given) is set when a printer refuses the message or any
// of its entries.
std::vector<TJobBytes> ReadEnvelopeJobs(const std::string& AText, const TJobReadOptions& AOptions,
                                        TLint& ALint, bool* ARefused = nullptr);
std::vector<TJobBytes> ReadEnvelopeJobs(const std::string& AText, size_t AAdvisedMessageBytes, TLint& ALint);

// The lint finding of one reader note.
TFinding EnvelopeNoteFinding(const TEnvelopeNote& ANote);
