// The console program's life: the application, its language, the engine's
// hand-off hosting and the main window, from start to the end of the event
// loop. The shipped console and the benchmark build both run through it.
#pragma once

#include <functional>

class Tmain;

// AShown runs once the window is shown, before the event loop starts.
int RunConsole(int argc, char** argv, const std::function<void(Tmain&)>& AShown = {});
