#include "Nelo.MQTT.Logging.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "Nelo.MQTT.Utils.h"

namespace {

// Replaces every occurrence of AToken in AText, never rescanning inserted text.
void ReplaceAll(std::string& AText, const std::string& AToken, const std::string& AValue) {
  std::string::size_type pos = 0;
  while ((pos = AText.find(AToken, pos)) != std::string::npos) {
    AText.replace(pos, AToken.size(), AValue);
    pos += AValue.size();
  }
}

}  // namespace

TNeloMQTTLogger::TNeloMQTTLogger(TNeloObject* AOwner) : FOwner(AOwner), FVerbosity(vINFO) {}

TNeloMQTTLogger::~TNeloMQTTLogger() {
  std::vector<std::pair<const void*, std::function<void(TNeloMQTTLogger*)>>> notifies;
  {
    std::lock_guard<std::mutex> guard(FNotifyLock);
    notifies.swap(FFreeNotifies);
  }
  for (auto& entry : notifies) {
    if (entry.second) entry.second(this);
  }
}

void TNeloMQTTLogger::FreeNotification(const void* AObserver, std::function<void(TNeloMQTTLogger*)> ANotify) {
  std::lock_guard<std::mutex> guard(FNotifyLock);
  for (auto& entry : FFreeNotifies) {
    if (entry.first == AObserver) {
      entry.second = std::move(ANotify);
      return;
    }
  }
  FFreeNotifies.emplace_back(AObserver, std::move(ANotify));
}

void TNeloMQTTLogger::RemoveFreeNotification(const void* AObserver) {
  std::lock_guard<std::mutex> guard(FNotifyLock);
  FFreeNotifies.erase(std::remove_if(FFreeNotifies.begin(), FFreeNotifies.end(),
                                     [AObserver](const auto& entry) { return entry.first == AObserver; }),
                      FFreeNotifies.end());
}

void TNeloMQTTLogger::OutputLogLine(const std::string& ALine) {
  // One write per line so that lines of different threads do not interleave.
  std::string line = ALine;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void TNeloMQTTLogger::DoLog(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
                            const std::string& AMessage) {
  if (ALevel > Verbosity()) return;
  if (OnLog) OnLog(this, ALevel, AMessage);
  OutputLogLine(FormatLogLine(Sender, ALevel, AException, AMessage));
}

std::string TNeloMQTTLogger::LevelWord(TNeloMQTTLogLevel ALevel) {
  switch (ALevel) {
    case vFATAL:
      return "FATAL";
    case vERROR:
      return "ERROR";
    case vWARNING:
      return "WARNING";
    case vINFO:
      return "INFO";
    case vDEBUG:
      return "DEBUG";
    case vNONE:
      break;
  }
  return std::string();
}

std::string TNeloMQTTLogger::TimeText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[64] = {0};
  char time[64] = {0};
  std::strftime(date, sizeof date, "%x", &local);
  std::strftime(time, sizeof time, "%X", &local);
  std::string text = date;
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0 || millis != 0) {
    text += ' ';
    text += time;
  }
  return text;
}

std::string TNeloMQTTLogger::FormatLogLine(TNeloObject* Sender, TNeloMQTTLogLevel ALevel,
                                           const std::exception* AException, const std::string& AMessage) {
  std::string line = "{time}: {level} - {sender} -- {message}";
  ReplaceAll(line, "{time}", TimeText());
  ReplaceAll(line, "{sender}", Sender ? Sender->ClassName() : std::string("(none)"));
  ReplaceAll(line, "{message}", AMessage);
  if (ALevel != vNONE) ReplaceAll(line, "{level}", LevelWord(ALevel));
  if (AException) {
    // C++ exceptions carry no stack trace: the last line stays empty.
    line += "\r\n";
    line += AException->what();
    line += "\r\n";
  }
  return line;
}

void TNeloMQTTLogger::SetVerbosity(TNeloMQTTLogLevel AVerbosity) {
  FVerbosity.store(AVerbosity, std::memory_order_relaxed);
}

void TNeloMQTTLogger::Fatal(TNeloObject* Sender, const std::string& AMessage,
                            const std::exception* AException) {
  DoLog(Sender, vFATAL, AException, AMessage);
}

void TNeloMQTTLogger::Error(TNeloObject* Sender, const std::string& AMessage,
                            const std::exception* AException) {
  DoLog(Sender, vERROR, AException, AMessage);
}

void TNeloMQTTLogger::Warning(TNeloObject* Sender, const std::string& AMessage,
                              const std::exception* AException) {
  DoLog(Sender, vWARNING, AException, AMessage);
}

void TNeloMQTTLogger::Info(TNeloObject* Sender, const std::string& AMessage) {
  DoLog(Sender, vINFO, nullptr, AMessage);
}

void TNeloMQTTLogger::Debug(TNeloObject* Sender, const std::string& AMessage) {
  DoLog(Sender, vDEBUG, nullptr, AMessage);
}

void TNeloMQTTLogger::Debug(TNeloObject* Sender, const std::string& AMessage, uint8_t AByte) {
  // The text is only built when a debug line can pass.
  if (vDEBUG > Verbosity()) return;
  DoLog(Sender, vDEBUG, nullptr,
        AMessage + " --- " + ByteToBinaryString(AByte) + " (" + std::to_string(AByte) + ")");
}

void TNeloMQTTLogger::Debug(TNeloObject* Sender, const std::string& AMessage, const TNeloMQTTBytes& ABytes) {
  if (vDEBUG > Verbosity()) return;
  std::string text = AMessage + " --- ";
  const std::size_t count = std::min<std::size_t>(ABytes.size(), 51);
  text.reserve(text.size() + count * 9);
  for (std::size_t i = 0; i < count; ++i) {
    text += ByteToBinaryString(ABytes[i]);
    text += ' ';
  }
  DoLog(Sender, vDEBUG, nullptr, text);
}

void TNeloMQTTLogHelper::Fatal(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                               const std::exception* AException) {
  if (ALogger) ALogger->Fatal(Sender, AMessage, AException);
}

void TNeloMQTTLogHelper::Error(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                               const std::exception* AException) {
  if (ALogger) ALogger->Error(Sender, AMessage, AException);
}

void TNeloMQTTLogHelper::Warning(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                                 const std::exception* AException) {
  if (ALogger) ALogger->Warning(Sender, AMessage, AException);
}

void TNeloMQTTLogHelper::Info(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage) {
  if (ALogger) ALogger->Info(Sender, AMessage);
}

void TNeloMQTTLogHelper::Debug(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage) {
  if (ALogger) ALogger->Debug(Sender, AMessage);
}

void TNeloMQTTLogHelper::Debug(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                               uint8_t AByte) {
  if (ALogger) ALogger->Debug(Sender, AMessage, AByte);
}

void TNeloMQTTLogHelper::Debug(TNeloMQTTLogger* ALogger, TNeloObject* Sender, const std::string& AMessage,
                               const TNeloMQTTBytes& ABytes) {
  if (ALogger) ALogger->Debug(Sender, AMessage, ABytes);
}
