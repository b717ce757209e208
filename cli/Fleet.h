// The printers a fleet command addresses: one serial, or N serials from a
// printf format numbered from 1, optionally one shard of them; and the
// topic templates in which {serial} stands for a printer's serial.
#pragma once

#include <string>
#include <vector>

#include "CliMqtt.h"

struct TFleetOptions {
  std::string Serial;                   // --serial SN (one printer)
  long Count = 0;                       // --count N
  std::string SerialFormat;             // --serial-format 'SN%04d'
  long ShardIndex = 1, ShardCount = 1;  // --shard K/N
  std::string JobsTopic;                // --jobs TOPIC
  std::string RepliesTopic;             // --replies TOPIC
};

// The serials of this process, in number order. Throws ECliUsage for
// missing or contradicting options, a format that is not one integer
// conversion, or a shard out of range.
std::vector<std::string> FleetSerials(const TFleetOptions& AOptions);
// The numbers [First, Last] of shard K of N over 1..ACount (empty when
// First > Last).
void ShardRange(long ACount, long AIndex, long AShards, long& AFirst, long& ALast);
// ATemplate with every {serial} replaced by ASerial.
std::string ExpandSerial(const std::string& ATemplate, const std::string& ASerial);
// A topic filter matching ATemplate for every serial: {serial} becomes '+'
// when it fills whole levels; empty when it does not (then each topic is
// subscribed by itself).
std::string SerialWildcardFilter(const std::string& ATemplate);

// Raises the soft open-file limit to at least ANeeded (up to the hard
// limit); returns the limit now in force.
long RaiseOpenFileLimit(long ANeeded);
