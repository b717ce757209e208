// Where a fleet's connections come from and how many of them this host
// allows: the local source addresses of --bind-address (a list and ranges),
// and the open-file and ephemeral-port limits that bound a fleet.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

// A --bind-address text that cannot be read; what() says why.
class ENeloMQTTBindAddressError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The most source addresses one list may name (a range included).
inline constexpr std::size_t kMaxBindAddresses = 65536;

// "ADDR[,ADDR...]" where each element is an IPv4 or IPv6 address or a range
// FIRST-LAST of one family (127.0.0.1-127.0.0.20, or 127.0.0.1-20 with the
// last IPv4 part only, ::1-::4). Spaces around elements are ignored.
// Addresses keep the order given; a repeated one is refused.
std::vector<boost::asio::ip::address> NeloMQTTParseBindAddresses(const std::string& AText);

// What this host lets one process hold against one broker address.
struct TNeloMQTTFleetCapacity {
  long OpenFiles = 0;        // the soft open-file limit now in force (after raising it)
  long HardOpenFiles = 0;    // its hard limit
  long ReservedFiles = 0;    // kept for the process's own files
  long PortsPerAddress = 0;  // local ports one source address can use (the ephemeral range)
  long SourceAddresses = 1;  // source addresses in use (1 without --bind-address)
  long Connections = 0;      // the smaller of the two limits below
  long ByFiles() const { return OpenFiles > ReservedFiles ? OpenFiles - ReservedFiles : 0; }
  long ByPorts() const { return PortsPerAddress * SourceAddresses; }
};

// Raises the soft open-file limit as far as the hard limit lets it (to
// AWanted connections plus the reserve, never lowering it) and returns what
// the limits allow. ASourceAddresses: 0 (none given) counts as one.
TNeloMQTTFleetCapacity NeloMQTTFleetCapacity(long AWanted, std::size_t ASourceAddresses);

// The kernel's ephemeral port range size (ip_local_port_range), 28232 when it
// cannot be read.
long NeloMQTTEphemeralPorts();

// "ACount connections need ... : the open-file limit allows N (raise it with
// ulimit -n ...)"; empty when ACapacity holds ACount.
std::string NeloMQTTCapacityProblem(long ACount, const TNeloMQTTFleetCapacity& ACapacity);
