#include "RecordingLogger.h"

#include <cstdlib>

namespace tessiva::test {

namespace {
// The entry being logged on this thread, completed by OutputLogLine.
thread_local TRecordingLogger::TEntry t_pending;
}  // namespace

TRecordingLogger::TRecordingLogger(TNeloMQTTLogLevel AVerbosity) {
  SetVerbosity(AVerbosity);
  const char* echo = std::getenv("TESSIVA_TEST_LOG");
  FEcho = echo && *echo && std::string(echo) != "0";
}

void TRecordingLogger::DoLog(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
                             const std::string& AMessage) {
  t_pending = TEntry{ALevel, AMessage, Sender ? Sender->ClassName() : std::string(), std::string()};
  TNeloMQTTLogger::DoLog(Sender, ALevel, AException, AMessage);
}

void TRecordingLogger::OutputLogLine(const std::string& ALine) {
  TEntry entry = t_pending;
  entry.Line = ALine;
  if (FEcho) TNeloMQTTLogger::OutputLogLine(ALine);
  std::lock_guard<std::mutex> guard(FLock);
  FEntries.push_back(std::move(entry));
  FChanged.notify_all();
}

std::vector<TRecordingLogger::TEntry> TRecordingLogger::Entries() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FEntries;
}

std::vector<std::string> TRecordingLogger::Messages() const {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::string> messages;
  for (const auto& entry : FEntries) messages.push_back(entry.Message);
  return messages;
}

std::size_t TRecordingLogger::Count(const std::string& AMessage) const {
  std::lock_guard<std::mutex> guard(FLock);
  std::size_t count = 0;
  for (const auto& entry : FEntries) count += entry.Message == AMessage;
  return count;
}

std::size_t TRecordingLogger::CountPrefix(const std::string& APrefix) const {
  std::lock_guard<std::mutex> guard(FLock);
  std::size_t count = 0;
  for (const auto& entry : FEntries) count += entry.Message.rfind(APrefix, 0) == 0;
  return count;
}

bool TRecordingLogger::WaitFor(const std::string& AMessage, std::chrono::milliseconds ATimeout,
                               std::size_t ACount) {
  std::unique_lock<std::mutex> guard(FLock);
  return FChanged.wait_for(guard, ATimeout, [&] {
    std::size_t count = 0;
    for (const auto& entry : FEntries) count += entry.Message == AMessage;
    return count >= ACount;
  });
}

void TRecordingLogger::Clear() {
  std::lock_guard<std::mutex> guard(FLock);
  FEntries.clear();
}

}  // namespace tessiva::test
