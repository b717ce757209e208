// The engine's leveled logger: filtering, the OnLog hand-over, the formatted
// line and the byte renderings.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Nelo.MQTT.Logging.h"

namespace {

class TSender : public TNeloObject {
 public:
  std::string ClassName() const override { return "TNeloMQTTNetworkConnection"; }
};

struct TLogged {
  TNeloObject* Sender;
  TNeloMQTTLogLevel Level;
  std::string Message;
};

// Records what reaches OnLog and what reaches the output channel.
class TCapture : public TNeloMQTTLogger {
 public:
  TCapture() {
    OnLog = [this](TNeloObject* ASender, TNeloMQTTLogLevel ALevel, const std::string& AMessage) {
      Events.push_back({ASender, ALevel, AMessage});
    };
  }
  void OutputLogLine(const std::string& ALine) override { Lines.push_back(ALine); }
  std::vector<TLogged> Events;
  std::vector<std::string> Lines;
};

// Every logging form, with the level it logs at.
struct TForm {
  const char* Name;
  TNeloMQTTLogLevel Level;
  void (*Call)(TNeloMQTTLogger*, TNeloObject*);
};

const std::runtime_error kError("socket gone");

const TForm kForms[] = {
    {"Fatal", vFATAL,
     [](TNeloMQTTLogger* L, TNeloObject* S) { TNeloMQTTLogHelper::Fatal(L, S, "m", &kError); }},
    {"Error", vERROR,
     [](TNeloMQTTLogger* L, TNeloObject* S) { TNeloMQTTLogHelper::Error(L, S, "m", &kError); }},
    {"Warning", vWARNING,
     [](TNeloMQTTLogger* L, TNeloObject* S) { TNeloMQTTLogHelper::Warning(L, S, "m", nullptr); }},
    {"Info", vINFO, [](TNeloMQTTLogger* L, TNeloObject* S) { TNeloMQTTLogHelper::Info(L, S, "m"); }},
    {"Debug", vDEBUG, [](TNeloMQTTLogger* L, TNeloObject* S) { TNeloMQTTLogHelper::Debug(L, S, "m"); }},
    {"DebugByte", vDEBUG,
     [](TNeloMQTTLogger* L, TNeloObject* S) { TNeloMQTTLogHelper::Debug(L, S, "m", uint8_t{7}); }},
    {"DebugBytes", vDEBUG,
     [](TNeloMQTTLogger* L, TNeloObject* S) {
       TNeloMQTTLogHelper::Debug(L, S, "m", TNeloMQTTBytes{1, 2});
     }},
};

TEST(Logger, StartsAtInfoAndKeepsItsOwner) {
  TSender owner;
  TNeloMQTTLogger logger(&owner);
  EXPECT_EQ(logger.Verbosity(), vINFO);
  EXPECT_EQ(logger.Owner(), &owner);
  EXPECT_EQ(TNeloMQTTLogger().Owner(), nullptr);
}

// A call passes exactly when its level is not above the verbosity, and then
// reaches both OnLog and the output; the helper forwards every form.
TEST(Logger, FiltersEveryFormByVerbosity) {
  TSender sender;
  for (TNeloMQTTLogLevel verbosity : {vNONE, vFATAL, vERROR, vWARNING, vINFO, vDEBUG}) {
    for (const TForm& form : kForms) {
      SCOPED_TRACE(std::string(form.Name) + " at verbosity " + std::to_string(verbosity));
      TCapture logger;
      logger.SetVerbosity(verbosity);
      form.Call(&logger, &sender);
      const bool passes = form.Level <= verbosity;
      ASSERT_EQ(logger.Events.size(), passes ? 1u : 0u);
      ASSERT_EQ(logger.Lines.size(), passes ? 1u : 0u);
      if (passes) {
        EXPECT_EQ(logger.Events[0].Level, form.Level);
        EXPECT_EQ(logger.Events[0].Sender, &logger)
            << "OnLog's sender is the logger, not the object that logged";
        EXPECT_NE(logger.Lines[0].find(" - TNeloMQTTNetworkConnection -- m"), std::string::npos)
            << logger.Lines[0];
      }
    }
  }
}

TEST(Logger, HelperWithoutLoggerDoesNothing) {
  TSender sender;
  for (const TForm& form : kForms) EXPECT_NO_THROW(form.Call(nullptr, &sender)) << form.Name;
}

TEST(Logger, VerbosityAppliesFromTheNextCall) {
  TSender sender;
  TCapture logger;
  logger.Debug(&sender, "hidden");
  logger.SetVerbosity(vDEBUG);
  logger.Debug(&sender, "shown");
  logger.SetVerbosity(vNONE);
  logger.Fatal(&sender, "hidden too");
  ASSERT_EQ(logger.Events.size(), 1u);
  EXPECT_EQ(logger.Events[0].Message, "shown");
}

TEST(Logger, FormatsTimeLevelSenderAndMessage) {
  TSender sender;
  TCapture logger;
  const std::pair<TNeloMQTTLogLevel, const char*> words[] = {
      {vFATAL, "FATAL"}, {vERROR, "ERROR"}, {vWARNING, "WARNING"}, {vINFO, "INFO"}};
  for (const auto& [level, word] : words) {
    logger.DoLog(&sender, level, nullptr, "Connection opened");
    const std::string line = logger.Lines.back();
    const std::regex shape(std::string("^(.+): ") + word +
                           " - TNeloMQTTNetworkConnection -- Connection opened$");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, shape)) << line;
    // The time text is the logger's own rendering of now: same shape, no placeholders left.
    EXPECT_EQ(parts[1].str().find('{'), std::string::npos);
    EXPECT_EQ(parts[1].str().size(), TNeloMQTTLogger::TimeText().size()) << parts[1].str();
  }
  EXPECT_EQ(logger.Events.back().Message, "Connection opened") << "OnLog gets the bare message";
}

// The level is replaced after the message, so "{level}" inside a message is
// filled in, while "{time}", "{sender}" and "{message}" inside it stay.
TEST(Logger, PlaceholdersInsideTheMessage) {
  TSender sender;
  TCapture logger;
  logger.Warning(&sender, "a {level} b {time} c {sender} d {message} e {level}");
  ASSERT_EQ(logger.Lines.size(), 1u);
  const std::string expectedTail = " -- a WARNING b {time} c {sender} d {message} e WARNING";
  const std::string& line = logger.Lines[0];
  ASSERT_GE(line.size(), expectedTail.size());
  EXPECT_EQ(line.substr(line.size() - expectedTail.size()), expectedTail) << line;
  EXPECT_EQ(logger.Events[0].Message, "a {level} b {time} c {sender} d {message} e {level}");

  // With no level word to insert, the placeholder stays as it is.
  const std::string none = logger.FormatLogLine(&sender, vNONE, nullptr, "x");
  EXPECT_NE(none.find(": {level} - TNeloMQTTNetworkConnection -- x"), std::string::npos) << none;
}

TEST(Logger, ErrorObjectGoesOnTwoFurtherLines) {
  TSender sender;
  TCapture logger;
  const std::runtime_error error("Connection refused");
  logger.Error(&sender, "Exception while connecting ...", &error);
  ASSERT_EQ(logger.Events.size(), 1u);
  EXPECT_EQ(logger.Events[0].Message, "Exception while connecting ...");
  const std::string tail = " -- Exception while connecting ...\r\nConnection refused\r\n";
  const std::string& line = logger.Lines[0];
  ASSERT_GE(line.size(), tail.size());
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;

  logger.Error(&sender, "plain");
  EXPECT_EQ(logger.Lines[1].find('\r'), std::string::npos) << "no error object, no extra lines";
}

TEST(Logger, ByteForms) {
  TSender sender;
  TCapture logger;
  logger.SetVerbosity(vDEBUG);

  const std::pair<uint8_t, const char*> bytes[] = {{0x30, "IN - First Byte --- 00110000 (48)"},
                                                   {0x00, "IN - First Byte --- 00000000 (0)"},
                                                   {0xFF, "IN - First Byte --- 11111111 (255)"},
                                                   {0x80, "IN - First Byte --- 10000000 (128)"}};
  for (const auto& [byte, text] : bytes) {
    logger.Debug(&sender, "IN - First Byte", byte);
    EXPECT_EQ(logger.Events.back().Message, text);
  }

  logger.Debug(&sender, "OUT", TNeloMQTTBytes{});
  EXPECT_EQ(logger.Events.back().Message, "OUT --- ");
  logger.Debug(&sender, "OUT", TNeloMQTTBytes{0x10, 0x02});
  EXPECT_EQ(logger.Events.back().Message, "OUT --- 00010000 00000010 ");

  // At most 51 bytes are rendered, however long the array.
  TNeloMQTTBytes hundred(100);
  for (std::size_t i = 0; i < hundred.size(); ++i) hundred[i] = static_cast<uint8_t>(i);
  logger.Debug(&sender, "OUT", hundred);
  const std::string text = logger.Events.back().Message;
  ASSERT_EQ(text.size(), std::string("OUT --- ").size() + 51 * 9);
  EXPECT_EQ(text.substr(text.size() - 9), "00110010 ") << "the 51st byte is 50";
  const std::regex groups("^OUT --- ([01]{8} ){51}$");
  EXPECT_TRUE(std::regex_match(text, groups));
}

// Without an override, each line that passes goes to standard error,
// newline-terminated; filtered calls write nothing there.
TEST(Logger, DefaultOutputIsStandardError) {
  TSender sender;
  TNeloMQTTLogger logger;
  std::string seen;
  logger.OnLog = [&](TNeloObject*, TNeloMQTTLogLevel, const std::string& AMessage) { seen = AMessage; };
  const std::runtime_error error("Connection refused");
  ::testing::internal::CaptureStderr();
  logger.Info(&sender, "Connection opened");
  logger.Debug(&sender, "filtered");
  logger.Error(&sender, "Exception while connecting ...", &error);
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(seen, "Exception while connecting ...");
  const std::regex shape(
      "^[^\n]+: INFO - TNeloMQTTNetworkConnection -- Connection opened\n"
      "[^\n]+: ERROR - TNeloMQTTNetworkConnection -- Exception while connecting \\.\\.\\.\r\n"
      "Connection refused\r\n\n$");
  EXPECT_TRUE(std::regex_match(written, shape)) << written;
}

TEST(Logger, FreeNotificationRunsOnDestruction) {
  int first = 0, second = 0;
  TNeloMQTTLogger* seen = nullptr;
  auto logger = std::make_unique<TNeloMQTTLogger>();
  TNeloMQTTLogger* address = logger.get();
  logger->FreeNotification(&first, [&](TNeloMQTTLogger* ALogger) {
    ++first;
    seen = ALogger;
  });
  logger->FreeNotification(&second, [&](TNeloMQTTLogger*) { ++second; });
  logger->RemoveFreeNotification(&second);
  logger.reset();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(seen, address);
}

// The logger takes no lock of its own: calls from several threads at once
// each reach OnLog and the output exactly once (checked for races under TSan).
TEST(Logger, ConcurrentCallers) {
  TSender sender;
  struct TCounting : TNeloMQTTLogger {
    std::atomic<int> Lines{0};
    void OutputLogLine(const std::string&) override { ++Lines; }
  } logger;
  std::atomic<int> events{0};
  logger.OnLog = [&](TNeloObject*, TNeloMQTTLogLevel, const std::string&) { ++events; };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) {
        TNeloMQTTLogHelper::Info(&logger, &sender, "IN - Bytes added to incoming messages queue");
        TNeloMQTTLogHelper::Debug(&logger, &sender, "filtered", uint8_t{1});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(events.load(), 1000);
  EXPECT_EQ(logger.Lines.load(), 1000);
}

}  // namespace
