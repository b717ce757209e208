// Sub-commands of tessiva-cli register themselves here, one source file each
// (cmd_pub.cpp, cmd_sub.cpp, cmd_envelope.cpp, ...).
#pragma once

#include <string>
#include <vector>

struct TCliCommand {
  const char* Name;
  const char* Summary;
  // Receives the arguments after the command name; returns the exit status.
  int (*Run)(const std::vector<std::string>& AArgs);
};

std::vector<TCliCommand>& CliCommands();

struct TCliCommandRegistration {
  explicit TCliCommandRegistration(const TCliCommand& ACommand) { CliCommands().push_back(ACommand); }
};

#define TESSIVA_CLI_COMMAND(AName, ASummary, ARun) \
  static const TCliCommandRegistration s_cliCommand_##ARun(TCliCommand{AName, ASummary, ARun})
