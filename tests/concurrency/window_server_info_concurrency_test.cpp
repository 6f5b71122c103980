// WindowServerInfo on real threads: queries from several threads at once never overlap inside
// the window server, all run on the window-information queue, and a query made from a task of
// that queue runs inline instead of waiting on itself. Runs under ThreadSanitizer too.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "base/dispatch_runtime.h"
#include "base/run_loop.h"
#include "capture/window_server_info.h"

namespace tovalo {
namespace {

constexpr WindowID kWindow = 7;
constexpr int kThreads = 4;
constexpr int kQueriesPerThread = 250;

// Counts how many queries are inside it at once and whether each came from the right queue.
class OverlapCountingWindowServer final : public WindowServer {
  public:
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::atomic<int> offQueue{0};
    std::atomic<int> queries{0};

    std::optional<ValueList> copyWindowInfo(WindowListOption, WindowID) override {
        const int now = ++inside;
        int most = mostInside.load();
        while (now > most && !mostInside.compare_exchange_weak(most, now)) {
        }
        const DispatchQueue* queue = DispatchQueue::current();
        if (!queue || queue->label() != WindowServerInfo::queueLabel) {
            ++offQueue;
        }
        ++queries;
        // Unsynchronised state the queue alone must protect.
        ++unguardedCount_;
        ValueList answer{
            ValueMap{{WindowInfoKey::layer, 0},
                     {WindowInfoKey::bounds,
                      ValueMap{{"X", 1.0}, {"Y", 2.0}, {"Width", 3.0}, {"Height", 4.0}}}}};
        --inside;
        return answer;
    }

    int unguardedCount() const { return unguardedCount_; }

  private:
    int unguardedCount_ = 0;
};

class WindowServerInfoConcurrencyTest : public ::testing::Test {
  protected:
    std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
    std::shared_ptr<DispatchRuntime> runtime = DispatchRuntime::makeThreaded(loop);
    std::shared_ptr<OverlapCountingWindowServer> server =
        std::make_shared<OverlapCountingWindowServer>();
    WindowServerInfo info{server, runtime};
};

TEST_F(WindowServerInfoConcurrencyTest, QueriesFromManyThreadsAreSerialisedOnTheQueue) {
    std::atomic<int> wrongAnswers{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kQueriesPerThread; ++i) {
                switch ((t + i) % 4) {
                    case 0:
                        wrongAnswers += info.windowBounds(kWindow) != Rect{1, 2, 3, 4};
                        break;
                    case 1:
                        wrongAnswers += !info.windowInfo(kWindow);
                        break;
                    case 2:
                        wrongAnswers += !info.rawWindowInfo(kWindow);
                        break;
                    default:
                        wrongAnswers += !info.windowList(WindowListOptions::all, kNullWindowID);
                        break;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(wrongAnswers.load(), 0);
    EXPECT_EQ(server->mostInside.load(), 1);
    EXPECT_EQ(server->offQueue.load(), 0);
    EXPECT_EQ(server->queries.load(), kThreads * kQueriesPerThread);
    EXPECT_EQ(server->unguardedCount(), kThreads * kQueriesPerThread);
}

TEST_F(WindowServerInfoConcurrencyTest, QueryFromInsideTheQueueRunsInline) {
    // Waiting on the queue from its own task would never return; inline it must.
    const auto bounds = info.cgWindowInfoQueue()->sync([&] {
        EXPECT_TRUE(info.cgWindowInfoQueue()->isCurrent());
        const auto nested = info.windowInfo(kWindow);
        EXPECT_TRUE(nested);
        return info.windowBounds(kWindow);
    });

    EXPECT_EQ(bounds, (Rect{1, 2, 3, 4}));
    EXPECT_EQ(server->offQueue.load(), 0);
}

}  // namespace
}  // namespace tovalo
