#include "runtime/main_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/manual_reset_event.h"

namespace runtime {
namespace {

constexpr std::chrono::seconds kGenerousWait{10};

// The test's thread is the main thread; the queue is open and nobody else is woken when calls are queued.
class MainThreadTest : public testing::Test {
 protected:
  void SetUp() override {
    BindMainThread();
    SetMainThreadWakeup([this] { call_queued_.Set(); });
  }
  void TearDown() override {
    // A worker still waiting for the main thread after a failed expectation is released before it is joined.
    ShutdownMainThreadQueue();
    for (std::thread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
    SetMainThreadWakeup(nullptr);
    BindMainThread();
  }

  template <class Fn>
  std::thread& StartWorker(Fn&& fn) {
    return workers_.emplace_back(std::forward<Fn>(fn));
  }

  ManualResetEvent call_queued_{false};
  std::vector<std::thread> workers_;
};

TEST_F(MainThreadTest, OnTheMainThreadTheCallRunsAtOnce) {
  std::thread::id ran_on;

  RunOnMainThread([&] { ran_on = std::this_thread::get_id(); });

  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_TRUE(IsMainThread());
  EXPECT_FALSE(call_queued_.IsSet());
  EXPECT_EQ(ServeQueuedCalls(), 0u);
}

TEST_F(MainThreadTest, WorkerCallIsQueuedAndRunsWhenTheMainThreadServes) {
  std::thread::id ran_on;
  std::atomic<bool> worker_went_on{false};
  bool worker_is_main = true;
  std::thread& worker = StartWorker([&] {
    worker_is_main = IsMainThread();
    RunOnMainThread([&] { ran_on = std::this_thread::get_id(); });
    worker_went_on = true;
  });
  ASSERT_TRUE(call_queued_.WaitFor(kGenerousWait));
  EXPECT_FALSE(worker_went_on) << "the worker must wait until its call has run";
  std::size_t served_elsewhere = 1;
  std::thread other([&] { served_elsewhere = ServeQueuedCalls(); });
  other.join();
  EXPECT_EQ(served_elsewhere, 0u) << "only the main thread serves the queue";

  EXPECT_EQ(ServeQueuedCalls(), 1u);
  worker.join();

  EXPECT_FALSE(worker_is_main);
  EXPECT_TRUE(worker_went_on);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(ServeQueuedCalls(), 0u);
}

TEST_F(MainThreadTest, ExceptionOfTheCallReachesTheWorker) {
  ManualResetEvent worker_done(false);
  std::string caught;
  StartWorker([&] {
    try {
      RunOnMainThread([] { throw std::runtime_error("refused on the main thread"); });
      caught = "(nothing thrown)";
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
    worker_done.Set();
  });

  WaitServingMainThread(worker_done);

  EXPECT_EQ(caught, "refused on the main thread");
}

TEST_F(MainThreadTest, WaitingMainThreadServesTheWorkerItWaitsFor) {
  ManualResetEvent worker_done(false);
  std::thread::id ran_on;
  StartWorker([&] {
    RunOnMainThread([&] { ran_on = std::this_thread::get_id(); });
    worker_done.Set();
  });

  WaitServingMainThread(worker_done);

  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST_F(MainThreadTest, CallsOfManyWorkersAllRunOnTheMainThread) {
  constexpr int kWorkers = 4;
  constexpr int kCallsEach = 25;
  ManualResetEvent all_done(false);
  std::atomic<int> workers_left{kWorkers};
  int calls_run = 0;  // touched on the main thread only
  int calls_elsewhere = 0;
  for (int i = 0; i < kWorkers; ++i) {
    StartWorker([&] {
      for (int call = 0; call < kCallsEach; ++call) {
        RunOnMainThread([&] {
          ++calls_run;
          if (!IsMainThread()) ++calls_elsewhere;
        });
      }
      if (--workers_left == 0) all_done.Set();
    });
  }

  WaitServingMainThread(all_done, std::chrono::milliseconds(1));

  EXPECT_EQ(calls_run, kWorkers * kCallsEach);
  EXPECT_EQ(calls_elsewhere, 0);
}

TEST_F(MainThreadTest, ShutdownReleasesWaitingWorkersUntilTheQueueIsBoundAgain) {
  std::atomic<int> calls_run{0};
  ManualResetEvent first_returned(false);
  StartWorker([&] {
    RunOnMainThread([&] { ++calls_run; });
    first_returned.Set();
  });
  ASSERT_TRUE(call_queued_.WaitFor(kGenerousWait));

  ShutdownMainThreadQueue();

  EXPECT_TRUE(first_returned.WaitFor(kGenerousWait)) << "the waiting worker was not released";
  ManualResetEvent late_returned(false);
  StartWorker([&] {
    RunOnMainThread([&] { ++calls_run; });
    late_returned.Set();
  });
  EXPECT_TRUE(late_returned.WaitFor(kGenerousWait)) << "a call after the shutdown must not wait";
  EXPECT_EQ(ServeQueuedCalls(), 0u);
  EXPECT_EQ(calls_run, 0);

  BindMainThread();
  ManualResetEvent reopened_done(false);
  StartWorker([&] {
    RunOnMainThread([&] { ++calls_run; });
    reopened_done.Set();
  });
  WaitServingMainThread(reopened_done);
  EXPECT_EQ(calls_run, 1);
}

}  // namespace
}  // namespace runtime
