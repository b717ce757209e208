#include "Nelo.MQTT.Global.h"

ENeloMQTTAssertionFailed::ENeloMQTTAssertionFailed(const std::string& AText, const char* AFile, int ALine)
    : std::logic_error(AText + " (" + AFile + ", line " + std::to_string(ALine) + ")"), FText(AText) {}
