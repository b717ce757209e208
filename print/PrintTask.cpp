#include "PrintTask.h"

#include <openssl/evp.h>

#include <climits>

std::string MakePrintTaskEnvelope(const std::string& AB) {
  static const char* const kCrLf = "\r\n";
  std::string text;
  text.reserve(AB.size() + 256);
  auto line = [&text](const std::string& AIndent, const std::string& AText) {
    text += AIndent;
    text += AText;
    text += kCrLf;
  };
  const std::string s4(4, ' ');
  const std::string s8(8, ' ');
  const std::string s12(12, ' ');
  line("", "{");
  line(s4, "\"dvsno\":\"xxx\",");
  line(s4, "\"kind\":\"PRINT_TASK\",");
  line(s4, "\"count\":\"1\",");
  line(s4, "\"list\":[");
  line(s8, "{");
  line(s12, std::string("\"task_id\":\"") + kPrintTaskId + "\",");
  line(s12, "\"usbidx\":\"0\",");
  line(s12, "\"file_size\":\"" + std::to_string(AB.size()) + "\",");
  line(s12, "\"target_file\":\"" + AB + "\"");
  line(s12, "}");
  line(s4, "]");
  line("", "}");
  return text;
}

std::string EncodePrintBase64(const uint8_t* AData, size_t ASize) {
  // EVP_EncodeBlock takes an int length; encode in slices of whole 3-byte
  // groups so any size works.
  static const size_t kSlice = 3 * 1024 * 1024;
  std::string out;
  out.reserve((ASize + 2) / 3 * 4);
  size_t done = 0;
  while (done < ASize) {
    const size_t n = (ASize - done > kSlice) ? kSlice : ASize - done;
    const size_t at = out.size();
    out.resize(at + (n + 2) / 3 * 4 + 1);
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[at]), AData + done, static_cast<int>(n));
    out.resize(at + static_cast<size_t>(written));
    done += n;
  }
  return out;
}

std::string EncodePrintBase64(const TPrintBytes& ABytes) {
  return EncodePrintBase64(ABytes.data(), ABytes.size());
}

TPrintBytes DecodePrintBase64(const std::string& AText) {
  if (AText.size() % 4 != 0 || AText.size() / 4 * 3 > static_cast<size_t>(INT_MAX))
    throw EPrintError("Invalid Base64 text");
  size_t pad = 0;
  for (size_t i = AText.size(); i > 0 && AText[i - 1] == '=' && pad < 2; --i) ++pad;
  for (size_t i = 0; i + pad < AText.size(); ++i) {
    const char c = AText[i];
    const bool alphabet =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!alphabet) throw EPrintError("Invalid Base64 text");
  }
  TPrintBytes out(AText.size() / 4 * 3 + 1);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(AText.data()),
                                static_cast<int>(AText.size()));
  if (n < 0) throw EPrintError("Invalid Base64 text");
  // EVP_DecodeBlock keeps the zero bytes that the padding stands for.
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

std::string MakePrintTaskEnvelopeFromBytes(const TPrintBytes& ABytes) {
  return MakePrintTaskEnvelope(EncodePrintBase64(ABytes));
}
