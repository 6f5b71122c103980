#include "base/notification_center.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"

namespace tovalo {
namespace {

class NotificationCenterTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    NotificationCenter center;
    std::vector<std::string> log;
};

TEST_F(NotificationCenterTest, PostingThreadDeliveryIsSynchronousAndFiltersByName) {
    auto token = center.addObserver("a", [&](const Notification& n) {
        log.push_back(n.name + ":" + n.userInfo.at("show").asString().value_or("?"));
    });
    auto other = center.addObserver("b", [&](const Notification& n) { log.push_back(n.name); });
    center.post("a", {}, {{"show", Value("yes")}});
    EXPECT_EQ(log, (std::vector<std::string>{"a:yes"}));
}

TEST_F(NotificationCenterTest, MainQueueDeliveryWaitsForTheQueueAndKeepsPostingOrder) {
    auto token = center.addObserver("n", runtime->mainQueue(), [&](const Notification& n) {
        const int* number = n.objectAs<int>();
        log.push_back(number ? std::to_string(*number) : "?");
    });
    center.post("n", 1);
    center.post("n", 2);
    EXPECT_TRUE(log.empty());
    runtime->runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"1", "2"}));
}

TEST_F(NotificationCenterTest, TokenRemovesItsObserverAlsoWhenDeliveryIsAlreadyQueued) {
    auto token = center.addObserver("n", runtime->mainQueue(),
                                    [&](const Notification&) { log.push_back("late"); });
    center.post("n");
    token.reset();
    runtime->runUntilIdle();
    EXPECT_TRUE(log.empty());
}

TEST_F(NotificationCenterTest, RemovingObserversDuringDeliveryIsSafe) {
    ObserverToken second;
    ObserverToken first = center.addObserver("n", [&](const Notification&) {
        log.push_back("first");
        first.reset();   // itself
        second.reset();  // one not yet called in this delivery
    });
    second = center.addObserver("n", [&](const Notification&) { log.push_back("second"); });
    center.post("n");
    center.post("n");
    EXPECT_EQ(log, (std::vector<std::string>{"first"}));
}

TEST_F(NotificationCenterTest, ObserverAddedDuringDeliveryHearsOnlyLaterPosts) {
    ObserverToken added;
    auto token = center.addObserver("n", [&](const Notification&) {
        if (!added.isActive()) {
            added = center.addObserver("n", [&](const Notification&) { log.push_back("added"); });
        }
        log.push_back("original");
    });
    center.post("n");
    center.post("n");
    EXPECT_EQ(log, (std::vector<std::string>{"original", "original", "added"}));
}

TEST_F(NotificationCenterTest, UndeliveredPostsDoNotKeepObserversAliveAfterTheRuntimeIsGone) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> weak = captured;
    {
        auto centre = std::make_unique<NotificationCenter>();
        auto token = centre->addObserver("n", runtime->mainQueue(),
                                         [captured](const Notification&) { ++*captured; });
        centre->post("n");  // queued on the main queue, never drained
    }
    captured.reset();
    runtime.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(NotificationCenterTest, TokenMayOutliveItsCentre) {
    auto centre = std::make_unique<NotificationCenter>();
    auto token = centre->addObserver("n", [](const Notification&) {});
    centre.reset();
    token.reset();  // must not touch the destroyed centre (ASan run catches it)
    EXPECT_FALSE(token.isActive());
}

}  // namespace
}  // namespace tovalo
