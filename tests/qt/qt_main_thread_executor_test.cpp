#include "platform/qt/qt_main_thread_executor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/dispatch_runtime.h"
#include "qt_test_desktop.h"

namespace tovalo::qt {
namespace {

using testing::QtTestDesktop;

TEST(QtMainThreadExecutorTest, RunsJobsPostedFromAnyThreadOnTheGuiThreadInOrder) {
    auto executor = std::make_shared<QtMainThreadExecutor>();
    EXPECT_TRUE(executor->isMainThread());
    EXPECT_EQ(executor->mainThreadId(), std::this_thread::get_id());

    std::vector<int> order;
    bool allOnGuiThread = true;
    const auto record = [&](int n) {
        allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread() &&
                         executor->isMainThread();
        order.push_back(n);
    };
    bool ranInline = false;
    executor->post([&] { record(0); });
    ranInline = !order.empty();
    std::thread worker([&] {
        EXPECT_FALSE(executor->isMainThread());
        for (int n = 1; n <= 3; ++n) {
            executor->post([&record, n] { record(n); });
        }
    });
    worker.join();

    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return order.size() == 4; }));
    EXPECT_FALSE(ranInline);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(allOnGuiThread);
}

TEST(QtMainThreadExecutorTest, DropsJobsStillQueuedWhenItGoesAway) {
    auto ran = std::make_shared<bool>(false);
    auto released = std::make_shared<int>(0);
    {
        QtMainThreadExecutor executor;
        executor.post([ran, released] { *ran = true; });
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(*ran);
    EXPECT_EQ(released.use_count(), 1);  // the job and what it held are gone
}

TEST(QtMainThreadExecutorTest, IsTheMainQueueAndTimerTargetOfTheThreadedRuntime) {
    auto runtime = DispatchRuntime::makeThreaded(std::make_shared<QtMainThreadExecutor>());
    std::mutex mutex;
    std::vector<std::string> events;
    const auto note = [&](std::string what) {
        std::lock_guard lock(mutex);
        events.push_back(what + (QThread::currentThread() == qApp->thread() ? "@gui" : "@other"));
    };
    // From a worker queue back to the main queue, and a timer that fires on the main queue.
    runtime->makeSerialQueue("worker")->async(
        [&, runtime] { runtime->mainQueue()->async([&] { note("hop"); }); });
    runtime->mainQueue()->asyncAfter(milliseconds(20), [&] { note("timer"); });

    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] {
        std::lock_guard lock(mutex);
        return events.size() == 2;
    }));
    std::sort(events.begin(), events.end());
    EXPECT_EQ(events, (std::vector<std::string>{"hop@gui", "timer@gui"}));
    runtime->executor().shutdown();
}

}  // namespace
}  // namespace tovalo::qt
