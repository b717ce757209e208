#include "Nelo.MQTT.Utils.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

#include "Nelo.MQTT.Texts.h"

void AddByte(TNeloMQTTBytes& ABytes, uint8_t AValue) { ABytes.push_back(AValue); }

void AddBytes(TNeloMQTTBytes& ABytes, const TNeloMQTTBytes& AValue) {
  // Inserting a vector's own range into it is undefined behaviour; copy first.
  if (&ABytes == &AValue) {
    const TNeloMQTTBytes copy(AValue);
    ABytes.insert(ABytes.end(), copy.begin(), copy.end());
    return;
  }
  ABytes.insert(ABytes.end(), AValue.begin(), AValue.end());
}

void InsertBytes(TNeloMQTTBytes& ABytes, int AIndex, const TNeloMQTTBytes& AValue) {
  if (AValue.empty()) return;
  if (&ABytes == &AValue) {
    const TNeloMQTTBytes copy(AValue);
    InsertBytes(ABytes, AIndex, copy);
    return;
  }
  size_t pos = AIndex < 0 ? 0 : static_cast<size_t>(AIndex);
  if (pos > ABytes.size()) pos = ABytes.size();
  ABytes.insert(ABytes.begin() + static_cast<std::ptrdiff_t>(pos), AValue.begin(), AValue.end());
}

TNeloMQTTBytes WordToBytes(uint16_t AValue) {
  return TNeloMQTTBytes{static_cast<uint8_t>(AValue >> 8), static_cast<uint8_t>(AValue & 0xFF)};
}

namespace {

void AppendLengthPrefixed(TNeloMQTTBytes& ABytes, const uint8_t* AData, size_t ACount) {
  if (ACount > NeloMQTTMaxLengthPrefixed)
    throw ENeloMQTTError("A length-prefixed field holds at most 65535 bytes, got " + std::to_string(ACount));
  ABytes.push_back(static_cast<uint8_t>(ACount >> 8));
  ABytes.push_back(static_cast<uint8_t>(ACount & 0xFF));
  ABytes.insert(ABytes.end(), AData, AData + ACount);
}

}  // namespace

void AddLengthPrefixed(TNeloMQTTBytes& ABytes, const TNeloMQTTBytes& AValue) {
  AppendLengthPrefixed(ABytes, AValue.data(), AValue.size());
}

void AddLengthPrefixed(TNeloMQTTBytes& ABytes, const std::string& AValue) {
  AppendLengthPrefixed(ABytes, reinterpret_cast<const uint8_t*>(AValue.data()), AValue.size());
}

TNeloMQTTBytes BytesFromBuffer(const void* ABuffer, int ACount) {
  if (ACount <= 0 || ABuffer == nullptr) return {};
  const auto* data = static_cast<const uint8_t*>(ABuffer);
  return TNeloMQTTBytes(data, data + ACount);
}

void AddRemainingLength(TNeloMQTTBytes& ABytes, int64_t AValue) {
  if (AValue > NeloMQTTMaxRemainingLength)
    throw ENeloMQTTError("Remaining length " + std::to_string(AValue) +
                         " exceeds the MQTT maximum of 268435455 bytes");
  if (AValue <= 0) {
    ABytes.push_back(0);
    return;
  }
  while (AValue > 0) {
    auto digit = static_cast<uint8_t>(AValue % 128);
    AValue /= 128;
    if (AValue > 0) digit |= 0x80;
    ABytes.push_back(digit);
  }
}

TNeloMQTTBytes EncodeRemainingLength(int64_t AValue) {
  TNeloMQTTBytes result;
  result.reserve(4);
  AddRemainingLength(result, AValue);
  return result;
}

uint16_t ReadWord(const TNeloMQTTBytes& ABytes, int& AIndex) {
  if (AIndex < 0 || ABytes.size() < static_cast<size_t>(AIndex) + 2)
    throw ENeloMQTTError(TNeloMQTTCodecTexts::kCouldNotRead);
  const auto pos = static_cast<size_t>(AIndex);
  const uint16_t result = static_cast<uint16_t>((ABytes[pos] << 8) | ABytes[pos + 1]);
  AIndex += 2;
  return result;
}

namespace {

// Locates the field; false (with AIndex moved as the rules say) when there
// is nothing to take.
bool LocateLengthPrefixed(const TNeloMQTTBytes& ABytes, int& AIndex, size_t& APos, size_t& ACount) {
  if (AIndex < 0 || ABytes.size() <= static_cast<size_t>(AIndex) + 2) return false;
  ACount = ReadWord(ABytes, AIndex);
  APos = static_cast<size_t>(AIndex);
  if (ABytes.size() - APos < ACount) return false;
  AIndex += static_cast<int>(ACount);
  return true;
}

}  // namespace

TNeloMQTTBytes ReadLengthPrefixedBytes(const TNeloMQTTBytes& ABytes, int& AIndex) {
  size_t pos = 0, count = 0;
  if (!LocateLengthPrefixed(ABytes, AIndex, pos, count)) return {};
  return TNeloMQTTBytes(ABytes.begin() + static_cast<std::ptrdiff_t>(pos),
                        ABytes.begin() + static_cast<std::ptrdiff_t>(pos + count));
}

std::string ReadLengthPrefixedString(const TNeloMQTTBytes& ABytes, int& AIndex) {
  size_t pos = 0, count = 0;
  if (!LocateLengthPrefixed(ABytes, AIndex, pos, count)) return {};
  return std::string(reinterpret_cast<const char*>(ABytes.data() + pos), count);
}

TNeloMQTTBytes ReadRemainingBytes(const TNeloMQTTBytes& ABytes, int& AIndex) {
  TNeloMQTTBytes result;
  const size_t pos = AIndex < 0 ? 0 : static_cast<size_t>(AIndex);
  if (pos < ABytes.size()) result.assign(ABytes.begin() + static_cast<std::ptrdiff_t>(pos), ABytes.end());
  AIndex = static_cast<int>(ABytes.size());
  return result;
}

int DecodeRemainingLength(const TNeloMQTTBytes& ABytes) {
  if (ABytes.empty()) return 0;
  int value = 0;
  int multiplier = 1;
  for (size_t k = 0; k < ABytes.size() && k < 4; ++k) {
    value += (ABytes[k] & 0x7F) * multiplier;
    if ((ABytes[k] & 0x80) == 0) return value;
    multiplier *= 128;
  }
  if (ABytes.size() >= 4) throw ENeloMQTTError("Malformed remaining length: more than four bytes");
  throw ENeloMQTTError("Malformed remaining length: the field is cut short");
}

namespace {

// One generator for the process, seeded once from the system's entropy and
// the clock. Reseeding from the clock on every call would hand out the same
// identifier to every call within one clock tick, and two clients sharing an
// identifier throw each other off the broker.
std::mutex GRandomLock;
std::mt19937& RandomGenerator() {
  static std::mt19937 generator = [] {
    std::random_device device;
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                     static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    std::seed_seq seed{
        device(), device(), device(), device(), static_cast<unsigned>(now), static_cast<unsigned>(now >> 32)};
    return std::mt19937(seed);
  }();
  return generator;
}

}  // namespace

std::string RandomClientIdentifier() {
  static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::uniform_int_distribution<int> pick(0, 61);
  std::string result;
  result.reserve(23);
  std::lock_guard<std::mutex> guard(GRandomLock);
  auto& generator = RandomGenerator();
  while (result.size() < 23) result.push_back(kAlphabet[pick(generator)]);
  return result;
}

std::string ByteToBinaryString(uint8_t AValue) {
  std::string result(8, '0');
  for (int i = 0; i < 8; ++i)
    if (AValue & (0x80 >> i)) result[static_cast<size_t>(i)] = '1';
  return result;
}

uint16_t HiWordOf(uint32_t AValue) { return static_cast<uint16_t>(AValue >> 16); }
uint16_t LoWordOf(uint32_t AValue) { return static_cast<uint16_t>(AValue & 0xFFFF); }
uint16_t MakeWordOf(uint8_t ALow, uint8_t AHigh) { return static_cast<uint16_t>(ALow + 256 * AHigh); }
uint32_t MakeLongWordOf(uint16_t ALow, uint16_t AHigh) {
  return static_cast<uint32_t>(ALow) + 65536u * static_cast<uint32_t>(AHigh);
}
