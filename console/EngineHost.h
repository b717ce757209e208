// The engine's hand-off hosting: worker threads of the MQTT client hand their
// steps to the main thread through the Qt event loop. The program (and every
// other host of the window: tests, tools, benchmarks) sets it up once, after
// the application object exists and before any client connects.
#pragma once

// Makes the calling thread the engine's main thread and wakes the Qt event
// loop to serve queued hand-offs.
void HostEngineHandOffs();
// Stops waking the event loop (before the application object goes).
void StopHostingEngineHandOffs();
