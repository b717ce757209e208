#include "Fleet.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Checks that AFormat has exactly one conversion, of an integer, with
// flags and a width only; "%%" is allowed anywhere.
void CheckSerialFormat(const std::string& AFormat) {
  int conversions = 0;
  for (std::size_t i = 0; i < AFormat.size(); ++i) {
    if (AFormat[i] != '%') continue;
    ++i;
    if (i < AFormat.size() && AFormat[i] == '%') continue;
    while (i < AFormat.size() && (AFormat[i] == '0' || AFormat[i] == '-' || AFormat[i] == '+' ||
                                  AFormat[i] == ' ' || AFormat[i] == '#'))
      ++i;
    std::size_t digits = 0;
    while (i < AFormat.size() && AFormat[i] >= '0' && AFormat[i] <= '9') ++i, ++digits;
    if (digits > 2 || i >= AFormat.size() ||
        (AFormat[i] != 'd' && AFormat[i] != 'i' && AFormat[i] != 'u' && AFormat[i] != 'x' &&
         AFormat[i] != 'X' && AFormat[i] != 'o'))
      throw ECliUsage("--serial-format '" + AFormat + "' must hold one integer conversion such as %04d");
    ++conversions;
  }
  if (conversions != 1)
    throw ECliUsage("--serial-format '" + AFormat +
                    "' must hold exactly one integer conversion such as %04d");
}

std::string FormatSerial(const std::string& AFormat, long ANumber) {
  char buffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(buffer, sizeof buffer, AFormat.c_str(), static_cast<int>(ANumber));
#pragma GCC diagnostic pop
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer)
    throw ECliUsage("--serial-format gives too long a serial");
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

void ShardRange(long ACount, long AIndex, long AShards, long& AFirst, long& ALast) {
  AFirst = (AIndex - 1) * ACount / AShards + 1;
  ALast = AIndex * ACount / AShards;
}

std::vector<std::string> FleetSerials(const TFleetOptions& AOptions) {
  std::vector<std::string> serials;
  if (!AOptions.Serial.empty()) {
    if (AOptions.Count > 1 || !AOptions.SerialFormat.empty())
      throw ECliUsage("give either --serial or --count with --serial-format");
    if (AOptions.ShardCount > 1) throw ECliUsage("--shard needs --count and --serial-format");
    serials.push_back(AOptions.Serial);
    return serials;
  }
  if (AOptions.Count < 1 || AOptions.SerialFormat.empty())
    throw ECliUsage("printers are needed: --serial SN, or --count N with --serial-format FORMAT");
  CheckSerialFormat(AOptions.SerialFormat);
  long first = 0, last = 0;
  ShardRange(AOptions.Count, AOptions.ShardIndex, AOptions.ShardCount, first, last);
  for (long i = first; i <= last; ++i) serials.push_back(FormatSerial(AOptions.SerialFormat, i));
  if (serials.empty())
    throw ECliUsage("shard " + std::to_string(AOptions.ShardIndex) + "/" +
                    std::to_string(AOptions.ShardCount) + " holds no printer");
  return serials;
}

std::string ExpandSerial(const std::string& ATemplate, const std::string& ASerial) {
  static const std::string kKey = "{serial}";
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t hit = ATemplate.find(kKey, at);
    if (hit == std::string::npos) break;
    out.append(ATemplate, at, hit - at);
    out += ASerial;
    at = hit + kKey.size();
  }
  out.append(ATemplate, at, std::string::npos);
  return out;
}

std::string SerialWildcardFilter(const std::string& ATemplate) {
  static const std::string kKey = "{serial}";
  std::string out;
  std::size_t start = 0;
  bool any = false;
  for (;;) {
    const std::size_t slash = ATemplate.find('/', start);
    const std::string level =
        ATemplate.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (level == kKey) {
      out += '+';
      any = true;
    } else if (level.find(kKey) != std::string::npos) {
      return std::string();
    } else {
      out += level;
    }
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return any ? out : ATemplate;
}

long RaiseOpenFileLimit(long ANeeded) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur != RLIM_INFINITY && static_cast<long>(limit.rlim_cur) < ANeeded) {
    rlim_t wanted = static_cast<rlim_t>(ANeeded);
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur == RLIM_INFINITY ? ANeeded : static_cast<long>(limit.rlim_cur);
}
