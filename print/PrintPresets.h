// Ready-made printer commands of the print row: the 8-byte command presets
// (buzzer, cutter, print-mode and character-set switches) and the two stored
// sample documents, each as command bytes and as a finished envelope.
#pragma once

#include <cstdint>
#include <string>

#include "PrintTask.h"

// Function byte of the 8-byte switch frame 10 xx 01 00 01 00 vv cs.
inline constexpr uint8_t kSwitchPrintMode = 0xA2;
inline constexpr uint8_t kSwitchCharset = 0xA6;

// 10 AFunction 01 00 01 00 AValue checksum, the checksum being the low
// 8 bits of the sum of the seven bytes before it.
TPrintBytes MakeSwitchFrame(uint8_t AFunction, uint8_t AValue);

// ESC B 03 01 and four zero bytes.
TPrintBytes BuzzerCommand();
// GS S and six zero bytes.
TPrintBytes CutterCommand();
// Entry 0 of cbb_print_mode switches to receipt mode, any other to label mode.
TPrintBytes PrintModeCommand(int AItemIndex);
// Entry 0 of cbb_charset selects GBK, any other UTF-8.
TPrintBytes CharsetCommand(int AItemIndex);

// The stored samples, one line of Base64 each: the GBK checkout receipt with
// ESC/POS commands (873 bytes, 1164 characters) and the TSPL label (164
// bytes, 220 characters).
const std::string& SampleReceiptBase64();
const std::string& SampleLabelBase64();
// Entry 0 of cbb_print_demo is the receipt, any other the label.
const std::string& SampleBase64(int AItemIndex);

// The envelopes the print row puts into the send memo.
std::string BuzzerEnvelope();                   // btn33
std::string CutterEnvelope();                   // btn34
std::string PrintModeEnvelope(int AItemIndex);  // cbb_print_mode
std::string CharsetEnvelope(int AItemIndex);    // cbb_charset
std::string SampleEnvelope(int AItemIndex);     // cbb_print_demo
