// The result channel's wait: it ends when a result arrives, when an interrupting signal comes
// (however close to the wait's start) or at its time limit, and no result that arrives while it
// begins is missed.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "platform/interrupts.hpp"
#include "run/channel.hpp"

namespace run_loop_unit_tests {
namespace {

using runner::CheckRun;
using runner::ResultChannel;
using clock = std::chrono::steady_clock;

// Far enough that a wait which reaches it has missed what should have ended it.
constexpr std::chrono::seconds missed{20};

TEST(ResultChannel, a_wait_ends_at_its_cause) {
    // SignalFirst: raised on the waiting thread after it read the event word, before it waits.
    enum class Cause { Result, Signal, SignalFirst, None };
    const struct {
        const char* name;
        Cause cause;
        std::chrono::milliseconds after;                // from just before the wait begins
        std::optional<std::chrono::milliseconds> limit; // none: the wait has no time limit
    } cases[] = {
        {"a result sent by another thread", Cause::Result, std::chrono::milliseconds(20), {}},
        {"a signal while it sleeps", Cause::Signal, std::chrono::milliseconds(20), {}},
        {"a signal as it begins", Cause::SignalFirst, std::chrono::milliseconds(0), {}},
        {"a signal as a wait with a limit begins", Cause::SignalFirst, std::chrono::milliseconds(0),
         missed},
        {"its time limit", Cause::None, std::chrono::milliseconds(0),
         std::chrono::milliseconds(30)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const runner::platform::InterruptWatch watch;
        ResultChannel channel;
        std::atomic<bool> over{false};
        std::atomic<bool> rescued{false};
        const std::uint32_t seen = ResultChannel::events_seen();
        // Causes the end, then ends a wait that has missed it with a result of its own.
        std::thread helper([&, waiter = pthread_self()] {
            std::this_thread::sleep_for(c.after);
            if (c.cause == Cause::Result) {
                channel.send(std::make_shared<CheckRun>());
            } else if (c.cause == Cause::Signal) {
                pthread_kill(waiter, SIGINT);
            }
            const auto give_up = clock::now() + missed;
            while (!over.load() && clock::now() < give_up) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (!over.load()) {
                rescued = true;
                channel.send(std::make_shared<CheckRun>());
            }
        });
        if (c.cause == Cause::SignalFirst) {
            std::raise(SIGINT);
        }
        // As the run loop waits: a wait may end early, and then the word is read again before
        // anything is looked at.
        const auto started = clock::now();
        const auto limit = c.limit ? started + *c.limit : clock::time_point::max();
        std::shared_ptr<CheckRun> result;
        for (std::uint32_t seen_now = seen;;) {
            channel.wait_until(seen_now, limit);
            seen_now = ResultChannel::events_seen();
            result = channel.try_recv();
            if (result || runner::platform::InterruptWatch::arrived() || clock::now() >= limit) {
                break;
            }
        }
        const auto waited = clock::now() - started;
        over = true;
        helper.join();
        EXPECT_FALSE(rescued);
        EXPECT_EQ(result != nullptr, c.cause == Cause::Result && !rescued);
        EXPECT_EQ(runner::platform::InterruptWatch::arrived(),
                  c.cause == Cause::Signal || c.cause == Cause::SignalFirst);
        if (c.cause == Cause::None) {
            EXPECT_GE(waited, *c.limit);
        }
    }
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
        for (;;) {
            const std::uint32_t seen = ResultChannel::events_seen();
            if ((run = channel.try_recv()) != nullptr || clock::now() >= limit) {
                break;
            }
            channel.wait_until(seen, limit);
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
