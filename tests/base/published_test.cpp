#include "base/published.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tovalo {
namespace {

TEST(PublishedTest, SubscribeSeesChangesAndSinkAlsoTheCurrentValue) {
    Published<int> value(1);
    std::vector<int> changes;
    std::vector<int> sunk;
    auto a = value.subscribe([&](int v) { changes.push_back(v); });
    auto b = value.sink([&](int v) { sunk.push_back(v); });
    value.set(2);
    value.set(2);
    EXPECT_EQ(changes, (std::vector<int>{2, 2}));
    EXPECT_EQ(sunk, (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(value.get(), 2);
}

TEST(PublishedTest, SubscriptionEndsWithItsToken) {
    Published<int> value;
    int calls = 0;
    {
        auto subscription = value.subscribe([&](int) { ++calls; });
        value.set(1);
    }
    value.set(2);
    EXPECT_EQ(calls, 1);
}

TEST(PublishedTest, WeakOwnerIsNotKeptAliveAndNotCalledOnceGone) {
    struct Owner {
        int seen = 0;
    };
    Published<int> value;
    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> weak = owner;
    auto subscription = value.subscribe<Owner>(owner, [](Owner& o, const int& v) { o.seen = v; });
    value.set(5);
    EXPECT_EQ(owner->seen, 5);
    owner.reset();
    EXPECT_TRUE(weak.expired());
    value.set(6);  // no owner: nothing happens, nothing crashes
}

TEST(PublishedTest, ObserverMayUnsubscribeItselfAndSetTheValueAgain) {
    Published<int> value;
    std::vector<int> seen;
    Subscription subscription;
    subscription = value.subscribe([&](int v) {
        seen.push_back(v);
        if (v == 1) {
            subscription.reset();
            value.set(10);
        }
    });
    value.set(1);
    value.set(2);
    EXPECT_EQ(seen, (std::vector<int>{1}));
    EXPECT_EQ(value.get(), 2);
}

}  // namespace
}  // namespace tovalo
