// The job reader: a print task envelope (JSON with any whitespace, every
// entry of its list, Base64 target_file) or raw command bytes, turned into
// the jobs' command bytes, with findings on the envelope itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Lint.h"

struct TJobBytes {
  std::vector<uint8_t> Bytes;
  bool Ok = false;            // false: the entry had no usable target_file
  size_t EnvelopeOffset = 0;  // where its target_file text starts
};

// Reads every entry of the envelope's list. Findings (job -1) for text that
// is not JSON, missing members, a count that is not the number of entries,
// a file_size that is not the Base64 length, Base64 that is not valid, and
// a message longer than AMaxMessageBytes.
std::vector<TJobBytes> ReadEnvelopeJobs(const std::string& AText, size_t AMaxMessageBytes, TLint& ALint);

// True when the text looks like an envelope rather than command bytes (its
// first non-blank character is '{').
bool LooksLikeEnvelope(const uint8_t* AData, size_t ASize);
