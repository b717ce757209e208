// A logger that records every line that passes its filter, for tests that
// check what the engine logs and wait for a line to appear. Thread-safe.
// Set TESSIVA_TEST_LOG=1 to also see the lines on standard error.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Nelo.MQTT.Logging.h"
#include "TestWait.h"

namespace tessiva::test {

class TRecordingLogger : public TNeloMQTTLogger {
 public:
  struct TEntry {
    TNeloMQTTLogLevel Level = vNONE;
    std::string Message;  // as passed to the logging call
    std::string Sender;   // class name of the sender
    std::string Line;     // the formatted line
  };

  explicit TRecordingLogger(TNeloMQTTLogLevel AVerbosity = vDEBUG);

  std::vector<TEntry> Entries() const;
  std::vector<std::string> Messages() const;
  // How many recorded messages equal AMessage.
  std::size_t Count(const std::string& AMessage) const;
  // How many recorded messages start with APrefix.
  std::size_t CountPrefix(const std::string& APrefix) const;
  // Waits until AMessage has been recorded at least ACount times.
  bool WaitFor(const std::string& AMessage, std::chrono::milliseconds ATimeout = kWaitLong,
               std::size_t ACount = 1);
  void Clear();

  void DoLog(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
             const std::string& AMessage) override;
  void OutputLogLine(const std::string& ALine) override;

 private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TEntry> FEntries;
  bool FEcho;
};

}  // namespace tessiva::test
