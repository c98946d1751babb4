// The result channel's wait: it ends when a result arrives, when a signal handler runs on the
// waiting thread, or at its time limit, and no result that arrives while it begins is missed.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "run/channel.hpp"

namespace run_loop_unit_tests {
namespace {

using runner::CheckRun;
using runner::ResultChannel;
using clock = std::chrono::steady_clock;

// Far enough that a wait which reaches it has missed what should have ended it.
constexpr std::chrono::seconds missed{20};

std::atomic<int> handled{0};
void count_signal(int) {
    handled.fetch_add(1);
}

struct WaitEnd {
    const char* name;
    // Run on another thread while the main thread waits; `stop` is set once the wait is over.
    std::function<void(ResultChannel&, pthread_t waiter, const std::atomic<bool>& stop)> cause;
    std::chrono::milliseconds limit; // the wait's own time limit
    bool result;                     // a result is there after the wait
};

TEST(ResultChannel, a_wait_ends_at_its_cause) {
    // As the runner installs its handlers: calls a handler interrupts are restarted.
    struct sigaction action {};
    action.sa_handler = &count_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    const WaitEnd ends[] = {
        {"a result sent by another thread",
         [](ResultChannel& channel, pthread_t, const std::atomic<bool>&) {
             std::this_thread::sleep_for(std::chrono::milliseconds(20));
             channel.send(std::make_shared<CheckRun>());
         },
         missed, true},
        // The signal is sent until the wait is over: the first may come before the sleep.
        {"a signal handled on the waiting thread",
         [](ResultChannel&, pthread_t waiter, const std::atomic<bool>& stop) {
             while (!stop.load()) {
                 pthread_kill(waiter, SIGUSR1);
                 std::this_thread::sleep_for(std::chrono::milliseconds(5));
             }
         },
         missed, false},
        {"its time limit", [](ResultChannel&, pthread_t, const std::atomic<bool>&) {},
         std::chrono::milliseconds(30), false},
    };
    for (const WaitEnd& end : ends) {
        SCOPED_TRACE(end.name);
        ResultChannel channel;
        std::atomic<bool> stop{false};
        const int signals_before = handled.load();
        std::thread cause([&, waiter = pthread_self()] { end.cause(channel, waiter, stop); });
        const auto started = clock::now();
        channel.wait_until(started + end.limit);
        const auto ended = clock::now();
        stop = true;
        cause.join();
        EXPECT_EQ(channel.try_recv() != nullptr, end.result);
        if (end.limit == missed) {
            EXPECT_LT(ended - started, missed);
        } else {
            EXPECT_GE(ended - started, end.limit);
            EXPECT_EQ(handled.load(), signals_before);
        }
    }
    sigaction(SIGUSR1, &previous, nullptr);
}

// One result at a time, each sent after a pause of a different length: some land before the
// receiver looks, some while it goes to sleep, some while it sleeps.
TEST(ResultChannel, no_result_is_missed_while_a_wait_begins) {
    ResultChannel channel;
    constexpr int results = 20000;
    std::atomic<int> wanted{0};
    std::thread sender([&] {
        std::minstd_rand random(7);
        for (int i = 0; i < results; ++i) {
            int now_wanted = 0;
            while ((now_wanted = wanted.load()) < i) {
            }
            if (now_wanted != i) {
                return; // the receiver has given up
            }
            const auto pause = std::chrono::nanoseconds(random() % 3000);
            const auto until = clock::now() + pause;
            while (clock::now() < until) {
            }
            channel.send(std::make_shared<CheckRun>());
        }
    });
    int received = 0;
    for (; received < results; ++received) {
        wanted = received;
        // A wait that lasts until its limit has missed the result.
        const auto limit = clock::now() + std::chrono::seconds(5);
        std::shared_ptr<CheckRun> run;
        while (!(run = channel.try_recv()) && clock::now() < limit) {
            channel.wait_until(limit);
        }
        if (run == nullptr || clock::now() >= limit) {
            break;
        }
    }
    wanted = results;
    sender.join();
    EXPECT_EQ(received, results);
}

} // namespace
} // namespace run_loop_unit_tests
