// tessiva-cli: the engine and the print payloads from the command line.
#include <cstdio>
#include <cstring>
#include <exception>

#include "CliCommand.h"
#include "CliMqtt.h"
#include "Nelo.MQTT.Client.h"

std::vector<TCliCommand>& CliCommands() {
  static std::vector<TCliCommand> commands;
  return commands;
}

static void PrintUsage(FILE* AOut) {
  std::fprintf(AOut, "usage: tessiva-cli COMMAND [OPTIONS]\n\ncommands:\n");
  for (const TCliCommand& c : CliCommands()) std::fprintf(AOut, "  %-10s %s\n", c.Name, c.Summary);
  std::fprintf(AOut, "  --version  the program's and the MQTT engine's versions\n");
  std::fprintf(AOut, "\n'tessiva-cli COMMAND --help' describes a command's options.\n\n%s",
               CliExitCodesHelp());
}

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    TNeloMQTTClient client;
    std::printf("tessiva-cli %s (MQTT engine %s)\n", TESSIVA_VERSION, client.Version().c_str());
    return 0;
  }
  for (const TCliCommand& c : CliCommands()) {
    if (std::strcmp(argv[1], c.Name) == 0) {
      try {
        return c.Run(std::vector<std::string>(argv + 2, argv + argc));
      } catch (const std::exception& e) {
        std::fprintf(stderr, "tessiva-cli %s: %s\n", c.Name, e.what());
        return 1;
      }
    }
  }
  std::fprintf(stderr, "tessiva-cli: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
