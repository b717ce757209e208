#include "TaskEnvelope.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>

#include "Json.h"
#include "PrintPresets.h"

bool PresetEnvelope(const std::string& AName, std::string& AEnvelope) {
  if (AName == "buzzer")
    AEnvelope = BuzzerEnvelope();
  else if (AName == "cutter")
    AEnvelope = CutterEnvelope();
  else if (AName == "receipt-mode")
    AEnvelope = PrintModeEnvelope(0);
  else if (AName == "label-mode")
    AEnvelope = PrintModeEnvelope(1);
  else if (AName == "gbk")
    AEnvelope = CharsetEnvelope(0);
  else if (AName == "utf8")
    AEnvelope = CharsetEnvelope(1);
  else if (AName == "receipt-sample")
    AEnvelope = SampleEnvelope(0);
  else if (AName == "label-sample")
    AEnvelope = SampleEnvelope(1);
  else
    return false;
  return true;
}

std::string NewTaskId() {
  static thread_local std::mt19937_64 rng = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  uint64_t hi = rng(), lo = rng();
  // Version 4, variant 10.
  hi = (hi & ~uint64_t{0xF000}) | uint64_t{0x4000};
  lo = (lo & ~(uint64_t{3} << 62)) | (uint64_t{2} << 62);
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
    const uint64_t word = i < 16 ? hi : lo;
    out += kHex[(word >> (60 - 4 * (i % 16))) & 15];
  }
  return out;
}

TTaskEnvelopeTemplate::TTaskEnvelopeTemplate(std::string AEnvelope) : FText(std::move(AEnvelope)) {
  const TJsonValue root = ParseJson(FText);
  const TJsonValue* dvsno = root.IsObject() ? root.Member("dvsno") : nullptr;
  if (dvsno == nullptr || !dvsno->IsString()) throw std::runtime_error("the envelope has no \"dvsno\" text");
  FDvsno = {dvsno->Begin, dvsno->End};
  const TJsonValue* list = root.Member("list");
  if (list != nullptr && list->IsArray()) {
    for (const TJsonValue& entry : list->Items) {
      const TJsonValue* id = entry.IsObject() ? entry.Member("task_id") : nullptr;
      if (id != nullptr && id->IsString()) FTaskIds.emplace_back(id->Begin, id->End);
    }
  }
  if (FTaskIds.empty()) throw std::runtime_error("the envelope has no entry with a \"task_id\" text");
}

std::string TTaskEnvelopeTemplate::Make(const std::string& ADvsno,
                                        const std::vector<std::string>& ATaskIds) const {
  struct TSplice {
    std::size_t Begin, End;
    std::string Value;
  };
  std::vector<TSplice> splices;
  splices.push_back({FDvsno.first, FDvsno.second, JsonQuote(ADvsno)});
  for (std::size_t i = 0; i < FTaskIds.size(); ++i) {
    const std::string& id = ATaskIds.empty() ? std::string() : ATaskIds[std::min(i, ATaskIds.size() - 1)];
    splices.push_back({FTaskIds[i].first, FTaskIds[i].second, JsonQuote(id)});
  }
  std::sort(splices.begin(), splices.end(),
            [](const TSplice& a, const TSplice& b) { return a.Begin < b.Begin; });
  std::string out;
  out.reserve(FText.size() + 64);
  std::size_t at = 0;
  for (const TSplice& s : splices) {
    out.append(FText, at, s.Begin - at);
    out += s.Value;
    at = s.End;
  }
  out.append(FText, at, std::string::npos);
  return out;
}
