// tessiva: the printer test console.
#include "ConsoleApp.h"

int main(int argc, char** argv) { return RunConsole(argc, argv); }
