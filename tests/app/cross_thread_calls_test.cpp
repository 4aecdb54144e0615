// Calls handed from workers to the main thread: they run there, in the order posted, also while one of them
// runs a loop of its own (a message box), and none runs once their receiver is gone.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>
#include <thread>
#include <vector>

#include "app/cross_thread_calls.h"

class CrossThreadCallsTest : public QObject {
  Q_OBJECT

 private slots:
  void callsFromWorkersRunOnTheMainThreadInTheirOrder() {
    app::CrossThreadCalls calls;
    constexpr int kWorkers = 4;
    constexpr int kEach = 500;
    std::vector<std::vector<int>> seen(kWorkers);  // main thread only
    bool elsewhere = false;
    std::vector<std::thread> workers;
    for (int worker = 0; worker < kWorkers; ++worker) {
      workers.emplace_back([&calls, &seen, &elsewhere, worker] {
        for (int at = 0; at < kEach; ++at) {
          calls.Post([&seen, &elsewhere, worker, at] {
            elsewhere = elsewhere || QThread::currentThread() != QCoreApplication::instance()->thread();
            seen[static_cast<std::size_t>(worker)].push_back(at);
          });
        }
      });
    }
    for (std::thread& worker : workers)
      worker.join();
    QTRY_VERIFY([&] {
      for (const std::vector<int>& each : seen)
        if (each.size() != kEach) return false;
      return true;
    }());
    QVERIFY(!elsewhere);
    for (const std::vector<int>& each : seen) {
      for (int at = 0; at < kEach; ++at)
        QCOMPARE(each[static_cast<std::size_t>(at)], at);
    }
  }

  // A call that waits in a loop of its own (as a message box does) still lets the calls after it run.
  void aCallThatRunsALoopLetsTheNextOnesRun() {
    app::CrossThreadCalls calls;
    std::vector<int> order;
    calls.Post([&] {
      QEventLoop loop;
      QTimer::singleShot(2000, &loop, &QEventLoop::quit);  // a limit, should the next call never come
      QTimer::singleShot(0, &loop, [&] {
        std::thread([&calls, &order, &loop] {
          calls.Post([&order, &loop] {
            order.push_back(2);
            loop.quit();
          });
        }).join();
      });
      order.push_back(1);
      loop.exec();
      order.push_back(3);
    });
    calls.Post([&] { order.push_back(4); });
    QTRY_COMPARE(order.size(), std::size_t{4});
    // The one posted before the loop started comes first, then the one posted inside it.
    QCOMPARE(order, (std::vector<int>{1, 4, 2, 3}));
  }

  void callsStillWaitingWhenTheReceiverGoesAreDropped() {
    int ran = 0;
    {
      auto calls = std::make_unique<app::CrossThreadCalls>();
      std::thread([&] {
        calls->Post([&ran] { ++ran; });
        calls->Post([&ran] { ++ran; });
      }).join();
    }
    QTest::qWait(50);
    QCOMPARE(ran, 0);
  }
};

QTEST_GUILESS_MAIN(CrossThreadCallsTest)
#include "cross_thread_calls_test.moc"
