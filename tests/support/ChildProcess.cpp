#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tessiva::test {

namespace {

bool IsExecutable(const std::string& APath) {
  struct stat info {};
  return ::stat(APath.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(APath.c_str(), X_OK) == 0;
}

void CloseFd(int& AFd) {
  if (AFd >= 0) ::close(AFd);
  AFd = -1;
}

// Children are started from one thread that lives as long as the test
// process and are asked (through setpriv) to receive SIGKILL when that
// thread ends. So a test process that crashes or is killed before its
// destructors run takes its brokers and clients with it. (The parent-death
// signal follows the thread that started the child, hence the keeper thread.)
class TSpawnKeeper {
 public:
  static TSpawnKeeper& Instance() {
    // Never destroyed: the detached thread may still wait on it at exit.
    static TSpawnKeeper* keeper = new TSpawnKeeper();
    return *keeper;
  }

  int Run(const std::function<int()>& ASpawn) {
    std::lock_guard<std::mutex> serial(FSerial);
    std::unique_lock<std::mutex> guard(FLock);
    FJob = &ASpawn;
    FDone = false;
    FChanged.notify_all();
    FChanged.wait(guard, [this] { return FDone; });
    return FResult;
  }

 private:
  TSpawnKeeper() {
    std::thread([this] { Loop(); }).detach();
  }

  void Loop() {
    std::unique_lock<std::mutex> guard(FLock);
    for (;;) {
      FChanged.wait(guard, [this] { return FJob != nullptr; });
      FResult = (*FJob)();
      FJob = nullptr;
      FDone = true;
      FChanged.notify_all();
    }
  }

  std::mutex FSerial;
  std::mutex FLock;
  std::condition_variable FChanged;
  const std::function<int()>* FJob = nullptr;
  bool FDone = false;
  int FResult = 0;
};

}  // namespace

std::string FindProgram(const std::string& AName) {
  if (AName.find('/') != std::string::npos) return IsExecutable(AName) ? AName : std::string();
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin:/usr/local/sbin:/usr/local/bin";
  std::stringstream parts(path);
  std::string dir;
  while (std::getline(parts, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + AName;
    if (IsExecutable(candidate)) return candidate;
  }
  return std::string();
}

TChildProcess::TChildProcess(std::vector<std::string> AArgs) : TChildProcess(std::move(AArgs), TOptions()) {}

TChildProcess::TChildProcess(std::vector<std::string> AArgs, TOptions AOptions) : FArgs(std::move(AArgs)) {
  if (FArgs.empty()) throw std::runtime_error("TChildProcess: no program given");
  const std::string program = FindProgram(FArgs[0]);
  if (program.empty()) throw std::runtime_error("TChildProcess: program not found: " + FArgs[0]);

  int in[2], out[2], err[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  if (!AOptions.MergeStderr && ::pipe2(err, O_CLOEXEC) != 0) {
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    throw std::runtime_error("pipe failed");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, AOptions.MergeStderr ? out[1] : err[1], 2);
  if (!AOptions.WorkingDir.empty())
    posix_spawn_file_actions_addchdir_np(&actions, AOptions.WorkingDir.c_str());

  // The child starts with default signal handling and nothing blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> command;
  static const std::string setpriv = FindProgram("setpriv");
  if (!setpriv.empty()) command = {setpriv, "--pdeathsig", "KILL", "--"};
  command.push_back(program);
  command.insert(command.end(), FArgs.begin() + 1, FArgs.end());
  std::vector<char*> argv;
  for (auto& arg : command) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int rc = TSpawnKeeper::Instance().Run(
      [&] { return ::posix_spawn(&FPid, argv[0], &actions, &attributes, argv.data(), environ); });
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(in[0]);
  ::close(out[1]);
  if (err[1] >= 0) ::close(err[1]);
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    if (err[0] >= 0) ::close(err[0]);
    FPid = -1;
    throw std::runtime_error("could not start " + program + ": " + std::strerror(rc));
  }

  FStdinFd = in[1];
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!AOptions.Stdin.empty()) FStdinQueue.push_back(AOptions.Stdin);
    FStdinClosing = !AOptions.KeepStdinOpen;
  }
  FStdinThread = std::thread(&TChildProcess::StdinLoop, this);
  FStdoutThread = std::thread(&TChildProcess::ReadLoop, this, out[0], &FStdout, &FStdoutEnded);
  if (err[0] >= 0) {
    FStderrEnded = false;
    FStderrThread = std::thread(&TChildProcess::ReadLoop, this, err[0], &FStderr, &FStderrEnded);
  }
}

TChildProcess::~TChildProcess() {
  if (FPid > 0 && !FExited) {
    ::kill(FPid, SIGKILL);
    Reap(true);
  }
  CloseStdin();
  if (FStdinThread.joinable()) FStdinThread.join();
  JoinReaders(std::chrono::milliseconds(2000));
  // Readers still running here mean a grandchild holds a pipe open.
  FStopping = true;
  if (FStdoutThread.joinable()) FStdoutThread.join();
  if (FStderrThread.joinable()) FStderrThread.join();
}

void TChildProcess::StdinLoop() {
  // A child that exits without reading its input must not kill the test
  // process with SIGPIPE: the signal stays blocked (and pending) on this thread.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  for (;;) {
    std::string chunk;
    {
      std::unique_lock<std::mutex> guard(FLock);
      FChanged.wait(guard, [this] { return !FStdinQueue.empty() || FStdinClosing; });
      if (FStdinQueue.empty()) break;
      chunk = std::move(FStdinQueue.front());
      FStdinQueue.pop_front();
    }
    std::size_t done = 0;
    while (done < chunk.size()) {
      const ssize_t n = ::write(FStdinFd, chunk.data() + done, chunk.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        done = chunk.size();
        std::lock_guard<std::mutex> guard(FLock);
        FStdinQueue.clear();
        FStdinClosing = true;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
  }
  CloseFd(FStdinFd);
  // Consume a SIGPIPE raised by a failed write so it is not left pending.
  timespec zero{0, 0};
  while (sigtimedwait(&pipeSignal, nullptr, &zero) > 0) {
  }
}

void TChildProcess::ReadLoop(int AFd, std::string* ATarget, bool* AEnded) {
  char buffer[4096];
  for (;;) {
    // Wake now and then: a grandchild may keep the pipe open after the
    // child has gone, and the destructor must still be able to end this loop.
    pollfd entry{AFd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, 100);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) {
      if (FStopping) break;
      continue;
    }
    const ssize_t n = ::read(AFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard<std::mutex> guard(FLock);
    ATarget->append(buffer, static_cast<std::size_t>(n));
    FChanged.notify_all();
  }
  ::close(AFd);
  std::lock_guard<std::mutex> guard(FLock);
  *AEnded = true;
  FChanged.notify_all();
}

void TChildProcess::JoinReaders(std::chrono::milliseconds ATimeout) {
  {
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait_for(guard, ATimeout, [this] { return FStdoutEnded && FStderrEnded; });
    if (!(FStdoutEnded && FStderrEnded)) return;
  }
  if (FStdoutThread.joinable()) FStdoutThread.join();
  if (FStderrThread.joinable()) FStderrThread.join();
}

void TChildProcess::Reap(bool ABlock) {
  if (FPid <= 0 || FExited) return;
  int status = 0;
  pid_t rc;
  do {
    rc = ::waitpid(FPid, &status, ABlock ? 0 : WNOHANG);
  } while (rc < 0 && errno == EINTR);
  if (rc == FPid) {
    FExited = true;
    if (WIFEXITED(status)) FExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) FTermSignal = WTERMSIG(status);
  } else if (rc < 0) {
    FExited = true;  // not our child any more (already reaped elsewhere)
  }
}

bool TChildProcess::Wait(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    Reap(false);
    if (FExited) {
      // The output is complete once the pipes have reached their end.
      JoinReaders(std::chrono::milliseconds(3000));
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool TChildProcess::Running() {
  Reap(false);
  return FPid > 0 && !FExited;
}

void TChildProcess::Kill(int ASignal) {
  if (FPid > 0 && !FExited) ::kill(FPid, ASignal);
}

void TChildProcess::Stop(std::chrono::milliseconds AGrace) {
  if (FPid <= 0 || FExited) return;
  Kill(SIGTERM);
  if (Wait(AGrace)) return;
  Kill(SIGKILL);
  Reap(true);
  JoinReaders(std::chrono::milliseconds(3000));
}

void TChildProcess::WriteStdin(const std::string& AData) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FStdinClosing) return;
  FStdinQueue.push_back(AData);
  FChanged.notify_all();
}

void TChildProcess::CloseStdin() {
  std::lock_guard<std::mutex> guard(FLock);
  FStdinClosing = true;
  FChanged.notify_all();
}

std::string TChildProcess::Stdout() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FStdout;
}

std::string TChildProcess::Stderr() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FStderr;
}

bool TChildProcess::WaitForStdout(const std::function<bool(const std::string&)>& APredicate,
                                  std::chrono::milliseconds ATimeout) {
  std::unique_lock<std::mutex> guard(FLock);
  // Output that has ended cannot satisfy the predicate later on.
  FChanged.wait_for(guard, ATimeout, [&] { return APredicate(FStdout) || FStdoutEnded; });
  return APredicate(FStdout);
}

bool TChildProcess::WaitForStdoutText(const std::string& AText, std::chrono::milliseconds ATimeout) {
  return WaitForStdout([&](const std::string& AOut) { return AOut.find(AText) != std::string::npos; },
                       ATimeout);
}

bool TChildProcess::WaitForStdoutLines(std::size_t ACount, std::chrono::milliseconds ATimeout) {
  return WaitForStdout(
      [&](const std::string& AOut) {
        std::size_t lines = 0;
        for (char c : AOut) lines += c == '\n';
        return lines >= ACount;
      },
      ATimeout);
}

std::vector<std::string> TChildProcess::StdoutLines() const {
  const std::string out = Stdout();
  std::vector<std::string> lines;
  std::string::size_type start = 0, end;
  while ((end = out.find('\n', start)) != std::string::npos) {
    std::string line = out.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string TChildProcess::CommandLine() const {
  std::string text;
  for (const auto& arg : FArgs) {
    if (!text.empty()) text += ' ';
    text += arg;
  }
  return text;
}

TRunResult RunProcess(const std::vector<std::string>& AArgs, const std::string& AStdin,
                      std::chrono::milliseconds ATimeout) {
  TChildProcess::TOptions options;
  options.Stdin = AStdin;
  TChildProcess child(AArgs, options);
  TRunResult result;
  if (!child.Wait(ATimeout)) {
    result.TimedOut = true;
    child.Stop(std::chrono::milliseconds(1000));
  }
  result.ExitCode = child.ExitCode();
  result.Stdout = child.Stdout();
  result.Stderr = child.Stderr();
  return result;
}

}  // namespace tessiva::test
