#include "PrintPresets.h"

TPrintBytes MakeSwitchFrame(uint8_t AFunction, uint8_t AValue) {
  TPrintBytes frame{0x10, AFunction, 0x01, 0x00, 0x01, 0x00, AValue, 0x00};
  unsigned sum = 0;
  for (size_t i = 0; i < 7; ++i) sum += frame[i];
  frame[7] = static_cast<uint8_t>(sum & 0xFF);
  return frame;
}

TPrintBytes BuzzerCommand() { return {0x1B, 0x42, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00}; }

TPrintBytes CutterCommand() { return {0x1D, 0x53, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}; }

TPrintBytes PrintModeCommand(int AItemIndex) {
  return MakeSwitchFrame(kSwitchPrintMode, AItemIndex == 0 ? 0 : 1);
}

TPrintBytes CharsetCommand(int AItemIndex) {
  return MakeSwitchFrame(kSwitchCharset, AItemIndex == 0 ? 0 : 1);
}

// Checkout receipt for a 48-column printer, GBK text with GS ! 11, ESC a 1
// and ESC @; every line ends with CR LF, four empty lines feed the paper.
const std::string& SampleReceiptBase64() {
  static const std::string text =
      "HSERG2EBveHVyrWlDQrAz73WzrbC+sKlo6ix9b2tteqjqQ0KG0AtLS0tLS0tLS0tLS0tLS0tLS0t"
      "LS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0NCh0hEcH3y666xaO6MDAzMRtADQrA4NDNo7rM"
      "w8qzDQq94dXKyrG85KO6MjAyMi0wOS0xOCAxMjo0OToxNg0KytXS+NSxo7rAz73WzrbC+sKlo6ix"
      "9b2tteqjqQ0KtaW6xaO6MjIwOTE4MTI0OTE2MDAwMzENCi0tLS0tLS0tLS0tLS0tLS0tLS0tLS0t"
      "LS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLQ0KxrfP7iAgICAgICAgICAgICAgICAgIMr9wb8gICAg"
      "ICDQobzGICAgICAg08W73bzbDQq5rLGjvKa2obe5ICAgICAgICAgICAgICAgMbfdICAgIDI2ICAg"
      "ICAgICAgMjYNCiAgsbjXoqO6ydnAsQ0KLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0t"
      "LS0tLS0tLS0tLS0tLS0tDQqyy8a3vNu48brPvMYgICAgICAgICAgICAgICAgICAgICAgICAgICAg"
      "ICAgICAgMjYNCraptaW98LbuICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAy"
      "Ng0KLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tDQodIRHT"
      "pri2vfC27qO6ICAgICAgICAgICAgMjYNChtALS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0t"
      "LS0tLS0tLS0tLS0tLS0tLS0tDQrJqMLr1qe4ti3OotDFDQodIRHWp7i2vfC27qO6ICAgICAgICAg"
      "ICAgMjYNChtALS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0tLS0t"
      "DQrPwrWlyMujusDPvdbOtsL6wqWjqLH1va216qOpDQrPwrWlyrG85KO6MjAyMi0wOS0xOCAxMjo0"
      "OToxNg0KtPLTocjLo7rAz73WzrbC+sKlo6ix9b2tteqjqQ0KtPLTocqxvOSjujIwMjItMDktMTgg"
      "MTI6NDk6MTYNCg0KDQoNCg0K";
  return text;
}

// TSPL label 40 x 20 mm: a text, a Code 128 barcode, a second text, five copies.
const std::string& SampleLabelBase64() {
  static const std::string text =
      "U0laRSA0MCBtbSwyMCBtbQ0KQ0xTDQpURVhUIDEwLDEwLCIyNCIsMCwxLDEsIlRFWFQiDQpCQVJD"
      "T0RFIDEwLDUwLCIxMjhNIiw2MCwwLDAsMiwyLCIhMTA0ITA5NkFCQ0QhMTAxRUZHSCINClRFWFQg"
      "MTAsMTIwLCIyNCIsMCwxLDEsIlRoaXMgaXMgTVFUVCB0ZXN0Ig0KUFJJTlQgMSw1DQo=";
  return text;
}

const std::string& SampleBase64(int AItemIndex) {
  return AItemIndex == 0 ? SampleReceiptBase64() : SampleLabelBase64();
}

std::string BuzzerEnvelope() { return MakePrintTaskEnvelopeFromBytes(BuzzerCommand()); }

std::string CutterEnvelope() { return MakePrintTaskEnvelopeFromBytes(CutterCommand()); }

std::string PrintModeEnvelope(int AItemIndex) {
  return MakePrintTaskEnvelopeFromBytes(PrintModeCommand(AItemIndex));
}

std::string CharsetEnvelope(int AItemIndex) {
  return MakePrintTaskEnvelopeFromBytes(CharsetCommand(AItemIndex));
}

std::string SampleEnvelope(int AItemIndex) { return MakePrintTaskEnvelope(SampleBase64(AItemIndex)); }
