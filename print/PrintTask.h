// The print task envelope: the thirteen-line JSON text that carries printer
// command bytes (Base64) to a device, and the Base64 helpers around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Printer command bytes (ESC/POS or TSPL).
using TPrintBytes = std::vector<uint8_t>;

// Every failure of the print payloads; what() is the text shown to the operator.
class EPrintError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fixed identifier every envelope carries in task_id.
inline constexpr const char* kPrintTaskId = "C147956F-C688-40CB-B0C5-A68E9677AA41";

// Wraps the one-line Base64 text AB into the envelope: thirteen lines, each
// ending with CR LF; file_size is the character length of AB. AB is inserted
// verbatim, without validation.
std::string MakePrintTaskEnvelope(const std::string& AB);

// Standard Base64 (RFC 4648, '=' padding) on one line, no line breaks.
std::string EncodePrintBase64(const uint8_t* AData, size_t ASize);
std::string EncodePrintBase64(const TPrintBytes& ABytes);

// Decodes standard Base64 (one line, padded). Throws EPrintError on text
// that is not valid Base64.
TPrintBytes DecodePrintBase64(const std::string& AText);

// Command bytes -> Base64 -> envelope.
std::string MakePrintTaskEnvelopeFromBytes(const TPrintBytes& ABytes);
