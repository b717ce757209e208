// Child processes for the test suites (brokers, mosquitto_pub/_sub, openssl,
// our own CLI): arguments, standard input, captured output, exit status,
// kill, and bounded waits. A child still running when its object is
// destroyed is killed and reaped, so no test leaves a process behind; and a
// test process that dies without running its destructors takes its children
// with it (they get SIGKILL through setpriv's parent-death signal).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessiva::test {

// The full path of a program found in PATH, /usr/sbin or /sbin; empty when absent.
std::string FindProgram(const std::string& AName);

class TChildProcess {
 public:
  struct TOptions {
    std::string Stdin;           // written to the child's standard input
    bool KeepStdinOpen = false;  // false: standard input is closed after Stdin
    bool MergeStderr = false;    // true: standard error goes into Stdout()
    std::string WorkingDir;      // empty: the test's own
  };

  // Starts AArgs[0] (looked up like FindProgram) with the other elements as
  // arguments. Throws std::runtime_error when it cannot be started.
  explicit TChildProcess(std::vector<std::string> AArgs);
  TChildProcess(std::vector<std::string> AArgs, TOptions AOptions);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  pid_t Pid() const { return FPid; }
  // True once the child has ended (waits at most ATimeout for it).
  bool Wait(std::chrono::milliseconds ATimeout);
  bool Running();
  // Exit code after a normal exit, -1 otherwise (still running or killed).
  int ExitCode() const { return FExitCode; }
  // The signal that ended the child, 0 otherwise.
  int TermSignal() const { return FTermSignal; }
  void Kill(int ASignal = SIGTERM);
  // SIGTERM, then SIGKILL when the child has not ended within AGrace; reaps it.
  void Stop(std::chrono::milliseconds AGrace = std::chrono::milliseconds(3000));

  void WriteStdin(const std::string& AData);
  void CloseStdin();

  // What the child has printed so far.
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until APredicate holds for the output captured so far.
  bool WaitForStdout(const std::function<bool(const std::string&)>& APredicate,
                     std::chrono::milliseconds ATimeout);
  bool WaitForStdoutText(const std::string& AText, std::chrono::milliseconds ATimeout);
  // Waits until at least ACount complete lines have been printed.
  bool WaitForStdoutLines(std::size_t ACount, std::chrono::milliseconds ATimeout);
  // The complete lines printed so far (without their line ends).
  std::vector<std::string> StdoutLines() const;
  // The command line, for messages.
  std::string CommandLine() const;

 private:
  void Reap(bool ABlock);
  void StdinLoop();
  void ReadLoop(int AFd, std::string* ATarget, bool* AEnded);
  void JoinReaders(std::chrono::milliseconds ATimeout);

  std::vector<std::string> FArgs;
  pid_t FPid = -1;
  bool FExited = false;
  int FExitCode = -1;
  int FTermSignal = 0;

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::string FStdout, FStderr;
  bool FStdoutEnded = false, FStderrEnded = true;
  std::deque<std::string> FStdinQueue;
  bool FStdinClosing = false;
  int FStdinFd = -1;
  std::atomic<bool> FStopping{false};
  std::thread FStdinThread, FStdoutThread, FStderrThread;
};

// Runs a command to its end: exit code (-1 when it had to be killed after
// ATimeout or died by a signal) and its output.
struct TRunResult {
  int ExitCode = -1;
  bool TimedOut = false;
  std::string Stdout;
  std::string Stderr;
};
TRunResult RunProcess(const std::vector<std::string>& AArgs, const std::string& AStdin = std::string(),
                      std::chrono::milliseconds ATimeout = std::chrono::milliseconds(30000));

}  // namespace tessiva::test
