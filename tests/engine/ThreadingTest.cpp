// The blocking hand-off and the worker shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "EngineTestSupport.h"

using namespace tessiva::test;

namespace {

TEST(HandOffTest, StepRunsOnTheMainThreadAndItsErrorReachesTheWorker) {
  NeloSetMainThread();
  const std::thread::id mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> done{false};
  std::string error;
  std::atomic<int> wakes{0};
  NeloSetWakeMainThread([&] { ++wakes; });
  std::thread worker([&] {
    NeloSynchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      NeloSynchronize([] { throw std::runtime_error("step failed"); });
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  NeloSetWakeMainThread(nullptr);
  EXPECT_EQ(ranOn, mainId);
  EXPECT_EQ(error, "step failed");
  EXPECT_EQ(wakes.load(), 2);
  // On the main thread a step runs at once; nothing is left waiting.
  bool inline_ran = false;
  NeloSynchronize([&] { inline_ran = true; });
  EXPECT_TRUE(inline_ran);
  EXPECT_FALSE(NeloCheckSynchronize(0));
}

TEST(HandOffTest, CheckSynchronizeOffTheMainThreadRunsNothing) {
  NeloSetMainThread();
  std::atomic<bool> ran{false};
  std::thread worker([&] { NeloQueueOnMainThread(&ran, [&] { ran = true; }); });
  worker.join();
  bool result = true;
  std::thread other([&] { result = NeloCheckSynchronize(0); });
  other.join();
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran.load());
  EXPECT_TRUE(NeloCheckSynchronize(0));
  EXPECT_TRUE(ran.load());
}

TEST(HandOffTest, CancelledStepsNeverRun) {
  NeloSetMainThread();
  int owner = 0;
  std::atomic<int> runs{0};
  std::thread worker([&] {
    NeloQueueOnMainThread(&owner, [&] { ++runs; });
    NeloQueueOnMainThread(nullptr, [&] { runs += 10; });
  });
  worker.join();
  NeloCancelQueued(&owner);
  while (NeloCheckSynchronize(0)) {
  }
  EXPECT_EQ(runs.load(), 10);
}

// A main thread waiting for a first step (as while it waits for a worker to
// end) is let go by an interruption: nothing ran, and it returns long before
// its time-out, which is longer than the suite may run.
TEST(HandOffTest, AnInterruptionEndsTheWaitForAFirstStep) {
  NeloSetMainThread();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    // Until the main thread is out of its wait, for a few seconds at most.
    for (int i = 0; i < 1000 && !returned.load(); ++i) {
      NeloInterruptCheckSynchronize();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_FALSE(NeloCheckSynchronize(30 * 60 * 1000));
  returned = true;
  worker.join();
}

// A worker whose every pass hands a step to the main thread.
class THandingWorker final : public TNeloMQTTWorkerThread {
 public:
  THandingWorker() : TNeloMQTTWorkerThread(nullptr, nullptr, nullptr) { Start(); }
  ~THandingWorker() override { Stop(); }
  std::atomic<int> Passes{0};

 protected:
  void DoWork() override {
    NeloSynchronize([this] { ++Passes; });
  }
};

TEST(WorkerTest, WaitingForAWorkerServesItsHandOffs) {
  NeloSetMainThread();
  auto worker = std::make_unique<THandingWorker>();
  ASSERT_TRUE(PumpUntil([&] { return worker->Passes.load() >= 2; }));
  // The worker is now (or soon) blocked in a hand-off nobody pumps but
  // WaitFor: termination must still come through.
  worker->Terminate();
  worker->WaitFor();
  EXPECT_TRUE(worker->Finished());
  const int passes = worker->Passes.load();
  worker.reset();
  EXPECT_FALSE(NeloCheckSynchronize(0));
  EXPECT_GE(passes, 2);
}

TEST(WorkerTest, PausedWorkerSkipsItsPasses) {
  NeloSetMainThread();
  THandingWorker worker;
  worker.SetPaused(true);
  Pump(std::chrono::milliseconds(30));  // a pass under way may finish
  const int before = worker.Passes.load();
  Pump(std::chrono::milliseconds(60));
  EXPECT_EQ(worker.Passes.load(), before);
  worker.SetPaused(false);
  EXPECT_TRUE(PumpUntil([&] { return worker.Passes.load() > before; }));
}

}  // namespace
