// The one command-line parser of tessiva-cli: each command declares its
// options (names, value, help line, what to do) and the shared groups it
// takes (connection, printers); the parser walks the arguments, answers
// --help from the declarations, and reports errors as one line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CliMqtt.h"
#include "Fleet.h"

class TCliParser {
 public:
  // AUsage: the usage line(s) printed first by --help.
  TCliParser(std::string ACommand, std::string AUsage);

  // An option without a value. AShort may be empty.
  TCliParser& Flag(const std::string& AShort, const std::string& ALong, const std::string& AHelp,
                   std::function<void()> AAction);
  // An option with a value, named AValueName in the help.
  TCliParser& Value(const std::string& AShort, const std::string& ALong, const std::string& AValueName,
                    const std::string& AHelp, std::function<void(const std::string&)> AAction);
  // An integer option within [AMin, AMax].
  TCliParser& Int(const std::string& AShort, const std::string& ALong, const std::string& AValueName,
                  const std::string& AHelp, long AMin, long AMax, std::function<void(long)> AAction);
  // A number option within [AMin, AMax].
  TCliParser& Number(const std::string& ALong, const std::string& AValueName, const std::string& AHelp,
                     double AMin, double AMax, std::function<void(double)> AAction);
  // What is left when the options are taken (an input file, "-" for
  // standard input): each such argument goes to AAction in order.
  TCliParser& Operands(std::function<void(const std::string&)> AAction);
  // Starts a titled group in the help.
  TCliParser& Section(const std::string& ATitle);
  // A closing text for the help (after the options, before the exit statuses).
  TCliParser& Epilog(const std::string& AText);
  // The command's own exit statuses ("exit status:\n  0  ...\n"), for a
  // command that does not connect; the others list the shared ones.
  TCliParser& ExitStatuses(const std::string& AText);

  // The broker connection options of every MQTT command.
  TCliParser& Connection(TCliConnectOptions& AOptions, bool AWithWill = true);
  // --serial, --count, --serial-format, --shard, --jobs, --replies.
  TCliParser& Printers(TFleetOptions& AOptions);

  // Walks AArgs. Empty: go on and run. Otherwise the command ends with the
  // returned status: 0 after --help (printed on standard output), 2 after
  // a command-line error (one line on standard error).
  std::optional<int> Parse(const std::vector<std::string>& AArgs);
  // Reports a command-line error found after Parse (one line, status 2).
  int UsageError(const std::string& AMessage) const;
  std::string Help() const;

 private:
  struct TOption {
    std::string Short, Long, ValueName, Help;
    std::function<void(const std::string&)> Action;  // gets "" for a flag
    bool TakesValue = false;
    bool IsSection = false;
  };
  std::vector<TOption> FOptions;
  std::function<void(const std::string&)> FOperands;
  std::string FCommand, FUsage, FEpilog, FExitStatuses;
};
