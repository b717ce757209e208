// Log levels of the MQTT library, shared by the protocol core (which only
// names the level of each line it reports) and the engine's logger.
#pragma once

// A lower value is more severe; vNONE is only used as a verbosity that lets
// nothing through.
enum TNeloMQTTLogLevel { vNONE = 0, vFATAL = 1, vERROR = 2, vWARNING = 3, vINFO = 4, vDEBUG = 5 };
