// Leveled logger of the MQTT engine and the class-level helper through which
// every part of the engine logs.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.LogLevel.h"

// Sender is the logger itself; AMessage is the text exactly as it was logged.
using TNeloMQTTLogEvent =
    std::function<void(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::string& AMessage)>;

// Filters each call by level against Verbosity, hands the bare message to
// OnLog and writes the formatted line "{time}: {level} - {sender} -- {message}"
// to standard error. Takes no lock: OnLog and the output run on the calling
// thread (an OnLog handler that touches a user interface must hand over).
class TNeloMQTTLogger : public TNeloObject {
 public:
  // Create(AOwner). Verbosity starts at vINFO.
  explicit TNeloMQTTLogger(TNeloObject* AOwner = nullptr);
  // Tells every object registered through FreeNotification that the logger
  // goes away, so it can drop its reference.
  ~TNeloMQTTLogger() override;

  TNeloMQTTLogger(const TNeloMQTTLogger&) = delete;
  TNeloMQTTLogger& operator=(const TNeloMQTTLogger&) = delete;

  std::string ClassName() const override { return "TNeloMQTTLogger"; }
  TNeloObject* Owner() const { return FOwner; }

  TNeloMQTTLogLevel Verbosity() const { return FVerbosity.load(std::memory_order_relaxed); }

  // Raised for every call that passes the filter (assign before logging starts).
  TNeloMQTTLogEvent OnLog;
  void SetOnLog(TNeloMQTTLogEvent AEvent) { OnLog = std::move(AEvent); }

  virtual void OutputLogLine(const std::string& ALine);
  virtual void DoLog(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
                     const std::string& AMessage);
  virtual std::string FormatLogLine(TNeloObject* Sender, TNeloMQTTLogLevel ALevel,
                                    const std::exception* AException, const std::string& AMessage);
  virtual void SetVerbosity(TNeloMQTTLogLevel AVerbosity);
  virtual void Fatal(TNeloObject* Sender, const std::string& AMessage,
                     const std::exception* AException = nullptr);
  virtual void Error(TNeloObject* Sender, const std::string& AMessage,
                     const std::exception* AException = nullptr);
  virtual void Warning(TNeloObject* Sender, const std::string& AMessage,
                       const std::exception* AException = nullptr);
  virtual void Info(TNeloObject* Sender, const std::string& AMessage);
  virtual void Debug(TNeloObject* Sender, const std::string& AMessage);
  // AMessage + " --- " + the byte in eight binary digits + " (" + decimal + ")".
  virtual void Debug(TNeloObject* Sender, const std::string& AMessage, uint8_t AByte);
  // AMessage + " --- " + the first 51 bytes, each in eight binary digits and a space.
  virtual void Debug(TNeloObject* Sender, const std::string& AMessage, const TNeloMQTTBytes& ABytes);

  // Component-style removal notice: ANotify runs (with this logger) from the
  // destructor. AObserver is the key for RemoveFreeNotification; registering
  // the same observer again replaces its callback.
  void FreeNotification(const void* AObserver, std::function<void(TNeloMQTTLogger*)> ANotify);
  void RemoveFreeNotification(const void* AObserver);

  // The level words of the formatted line; empty for vNONE.
  static std::string LevelWord(TNeloMQTTLogLevel ALevel);
  // The "{time}" text: local short date, a space and the long time (the time
  // part left out at exactly midnight).
  static std::string TimeText();

 private:
  TNeloObject* FOwner;
  std::atomic<TNeloMQTTLogLevel> FVerbosity;
  std::mutex FNotifyLock;
  std::vector<std::pair<const void*, std::function<void(TNeloMQTTLogger*)>>> FFreeNotifies;
};

// Class-level logging calls taking the logger first; all of them do nothing
// when ALogger is null.
class TNeloMQTTLogHelper {
 public:
  static void Fatal(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                    const std::exception* AException = nullptr);
  static void Error(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                    const std::exception* AException = nullptr);
  static void Warning(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                      const std::exception* AException = nullptr);
  static void Info(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage);
  static void Debug(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage);
  static void Debug(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                    uint8_t AByte);
  static void Debug(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                    const TNeloMQTTBytes& ABytes);
};
