#include "Nelo.MQTT.Fleet.Addresses.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <set>

namespace {

using boost::asio::ip::address;
using boost::asio::ip::address_v4;
using boost::asio::ip::address_v6;

// Descriptors kept for the process itself (standard streams, log and page
// files, the resolver, the render pool's wake-ups).
constexpr long kReservedFiles = 64;

std::string Trim(const std::string& AText) {
  const std::size_t first = AText.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const std::size_t last = AText.find_last_not_of(" \t");
  return AText.substr(first, last - first + 1);
}

address ParseOne(const std::string& AText, const std::string& AElement) {
  boost::system::error_code ec;
  const address a = boost::asio::ip::make_address(AText, ec);
  if (ec) throw ENeloMQTTBindAddressError("'" + AElement + "' is not an IP address or a range of them");
  return a;
}

// A 128-bit address as a number (IPv4 in the low 32 bits).
std::array<unsigned char, 16> Bytes(const address& A) {
  std::array<unsigned char, 16> out{};
  if (A.is_v4()) {
    const auto b = A.to_v4().to_bytes();
    std::copy(b.begin(), b.end(), out.begin() + 12);
  } else {
    const auto b = A.to_v6().to_bytes();
    std::copy(b.begin(), b.end(), out.begin());
  }
  return out;
}

void AppendRange(const address& AFirst, const address& ALast, const std::string& AElement,
                 std::vector<address>& AOut) {
  if (AFirst.is_v4() != ALast.is_v4())
    throw ENeloMQTTBindAddressError("the range '" + AElement + "' mixes IPv4 and IPv6");
  auto first = Bytes(AFirst);
  const auto last = Bytes(ALast);
  if (last < first) throw ENeloMQTTBindAddressError("the range '" + AElement + "' runs backwards");
  for (;;) {
    if (AOut.size() >= kMaxBindAddresses)
      throw ENeloMQTTBindAddressError("more than " + std::to_string(kMaxBindAddresses) + " source addresses");
    if (AFirst.is_v4()) {
      address_v4::bytes_type b{};
      std::copy(first.begin() + 12, first.end(), b.begin());
      AOut.push_back(address_v4(b));
    } else {
      address_v6::bytes_type b{};
      std::copy(first.begin(), first.end(), b.begin());
      AOut.push_back(address_v6(b));
    }
    if (first == last) break;
    for (int i = 15; i >= 0; --i)
      if (++first[static_cast<std::size_t>(i)] != 0) break;
  }
}

}  // namespace

std::vector<address> NeloMQTTParseBindAddresses(const std::string& AText) {
  std::vector<address> out;
  if (Trim(AText).empty()) throw ENeloMQTTBindAddressError("no source address given");
  std::size_t at = 0;
  for (;;) {
    const std::size_t comma = AText.find(',', at);
    const std::string element =
        Trim(AText.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (element.empty()) throw ENeloMQTTBindAddressError("an empty element in '" + AText + "'");
    // IPv6 addresses hold no '-', so a dash always splits a range.
    const std::size_t dash = element.find('-');
    if (dash == std::string::npos) {
      out.push_back(ParseOne(element, element));
      if (out.size() > kMaxBindAddresses)
        throw ENeloMQTTBindAddressError("more than " + std::to_string(kMaxBindAddresses) +
                                        " source addresses");
    } else {
      const address first = ParseOne(Trim(element.substr(0, dash)), element);
      std::string lastText = Trim(element.substr(dash + 1));
      // 127.0.0.1-20: the last part of an IPv4 address alone.
      if (first.is_v4() && !lastText.empty() &&
          lastText.find_first_not_of("0123456789") == std::string::npos) {
        if (lastText.size() > 3 || std::stoi(lastText) > 255)
          throw ENeloMQTTBindAddressError("'" + element + "' is not an IP address or a range of them");
        const std::string firstText = first.to_string();
        lastText = firstText.substr(0, firstText.rfind('.') + 1) + lastText;
      }
      AppendRange(first, ParseOne(lastText, element), element, out);
    }
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  std::set<address> seen;
  for (const address& a : out)
    if (!seen.insert(a).second) throw ENeloMQTTBindAddressError(a.to_string() + " is named twice");
  return out;
}

long NeloMQTTEphemeralPorts() {
  std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
  long low = 0, high = 0;
  if (in >> low >> high && high >= low && low > 0) return high - low + 1;
  return 60999 - 32768 + 1;
}

TNeloMQTTFleetCapacity NeloMQTTFleetCapacity(long AWanted, std::size_t ASourceAddresses) {
  TNeloMQTTFleetCapacity c;
  c.ReservedFiles = kReservedFiles;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    const rlim_t wanted = static_cast<rlim_t>(AWanted) + static_cast<rlim_t>(kReservedFiles);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
      rlim_t target = wanted;
      if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
      limit.rlim_cur = target;
      setrlimit(RLIMIT_NOFILE, &limit);
      getrlimit(RLIMIT_NOFILE, &limit);
    }
    constexpr long kMany = 1L << 40;
    c.OpenFiles = limit.rlim_cur == RLIM_INFINITY ? kMany : static_cast<long>(limit.rlim_cur);
    c.HardOpenFiles = limit.rlim_max == RLIM_INFINITY ? kMany : static_cast<long>(limit.rlim_max);
  }
  c.PortsPerAddress = NeloMQTTEphemeralPorts();
  c.SourceAddresses = ASourceAddresses == 0 ? 1 : static_cast<long>(ASourceAddresses);
  c.Connections = std::min(c.ByFiles(), c.ByPorts());
  return c;
}

std::string NeloMQTTCapacityProblem(long ACount, const TNeloMQTTFleetCapacity& ACapacity) {
  if (ACount <= ACapacity.Connections) return std::string();
  std::string text = std::to_string(ACount) + " connections are more than this host allows: ";
  if (ACapacity.ByFiles() < ACount)
    text += "the open-file limit (" + std::to_string(ACapacity.OpenFiles) + ", hard limit " +
            std::to_string(ACapacity.HardOpenFiles) + ") allows " + std::to_string(ACapacity.ByFiles()) +
            " (raise the hard limit, e.g. ulimit -Hn, or run fewer printers per process with --shard)";
  if (ACapacity.ByFiles() < ACount && ACapacity.ByPorts() < ACount) text += "; ";
  if (ACapacity.ByPorts() < ACount)
    text += std::to_string(ACapacity.SourceAddresses) + " source address" +
            (ACapacity.SourceAddresses == 1 ? "" : "es") + " with " +
            std::to_string(ACapacity.PortsPerAddress) + " ephemeral ports each allow " +
            std::to_string(ACapacity.ByPorts()) +
            " (add addresses with --bind-address, e.g. 127.0.0.1-127.0.0.20)";
  return text;
}
