// The fleet engine as the printer and jobs commands use it: their
// connection options turned into the engine's, and the render pool in
// which printers check and draw their jobs beside the network loops.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CliMqtt.h"
#include "Fleet.h"
#include "Nelo.MQTT.Fleet.h"

// Broker, TLS (as ConfigureClient sets them for the seed's client) and the
// source addresses.
TNeloMQTTFleetOptions FleetOptionsFrom(const TCliConnectOptions& AOptions,
                                       const std::vector<boost::asio::ip::address>& ASources);
// What one session says in its CONNECT: client id, credentials, keep-alive,
// will; reconnecting every AReconnectS seconds.
TNeloMQTTFleetSessionSettings SessionSettingsFrom(const TCliConnectOptions& AOptions, int AReconnectS = 1);

// Throws ECliUsage naming the first text MQTT cannot carry (a string is at
// most 65,535 bytes): the client id (with ASuffixBytes more per session),
// user name, password, will topic and message, and the topic templates
// with the longest serial in place.
void CheckMqttTextLengths(const TCliConnectOptions& AOptions, std::size_t ASuffixBytes,
                          const std::vector<std::string>& ATopicTemplates,
                          const std::vector<std::string>& ASerials);

// A session's log line through the CLI's logger (with -d on standard error),
// at its level.
void LogFleetLine(TCliLogger& ALogger, TNeloObject* ASender, TNeloMQTTLogLevel ALevel,
                  const std::string& AText);

// A few threads that run steps in the order given; each step runs on one
// of them. Bounded in threads, so rendering never takes the network loops'
// CPU share beyond them; one heavy job holds one thread only.
class TRenderPool {
 public:
  explicit TRenderPool(unsigned AThreads);
  ~TRenderPool();  // waits for the steps running; drops those not begun
  TRenderPool(const TRenderPool&) = delete;
  TRenderPool& operator=(const TRenderPool&) = delete;
  void Post(std::function<void()> AStep);

 private:
  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<std::function<void()>> FSteps;
  bool FEnd = false;
  std::vector<std::thread> FThreads;
};
