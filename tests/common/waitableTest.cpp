// The waiting primitive: waiters wake on the change they wait for, see what was written before
// it, take turns when they change the value as they wake, and may destroy it once woken. Meant
// to run under ThreadSanitizer and AddressSanitizer too.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tavo/common/waitable.h"
#include "threadTestSupport.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

TEST(Waitable, AWaiterSleepsUntilTheChangeAndSeesWhatWasWrittenBeforeIt) {
    Waitable<int> stage(0);
    int payload = 0;  // plain: ordered only by the waitable
    test::ThreadUsageMeter waiting;
    std::atomic<pid_t> waiterId{0};
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        waiterId = test::CurrentThreadId();
        waiting = test::ThreadUsageMeter();
        stage.WaitUntil([](int value) { return value == 2; });
        waiting.Stop();
        done = true;
        EXPECT_EQ(payload, 42);
    });
    EXPECT_TRUE(test::WaitUntilAsleep(waiterId, [&] { return done.load(); }));
    stage.Update([](int& value) { value = 1; });  // not yet what it waits for
    EXPECT_TRUE(test::WaitUntilAsleep(waiterId, [&] { return done.load(); }))
        << "woke for a value it does not wait for";
    payload = 42;
    stage.Update([](int& value) { value = 2; });
    waiter.join();
    EXPECT_TRUE(waiting.slept()) << waiting;
    EXPECT_EQ(stage.Get(), 2);
}

TEST(Waitable, WaitThenUpdateGivesEachWaiterItsTurnAlone) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 50;
    Waitable<int> turn(0);
    std::vector<int> order;  // plain: each turn's holder alone appends
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const int mine = round * kThreads + t;
                const int next = turn.WaitThenUpdate([mine](int value) { return value == mine; },
                                                     [&order](int& value) {
                                                         order.push_back(value);
                                                         return ++value;
                                                     });
                EXPECT_EQ(next, mine + 1);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(order.size(), static_cast<size_t>(kThreads * kRounds));
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(order[i], static_cast<int>(i));
    }
}

TEST(Waitable, AWokenWaiterMayDestroyItAtOnce) {
    for (int i = 0; i < 200; ++i) {
        auto done = std::make_unique<Waitable<bool>>(false);
        std::thread changer(
            [shared = done.get()] { shared->Update([](bool& value) { value = true; }); });
        done->WaitUntil([](bool value) { return value; });
        done.reset();
        changer.join();
    }
}

}  // namespace
}  // namespace tavo
