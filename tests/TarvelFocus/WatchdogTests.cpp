#include "Watchdog.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarvel_focus {
namespace {

using namespace std::chrono_literals;

TEST(WatchdogDeathTest, EndsTheProcessWhateverItWaitsFor) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Watchdog watchdog(200ms, 1);
            std::this_thread::sleep_for(30s);
        },
        ::testing::ExitedWithCode(1), "");
    // Extended, it lets the longer time run.
    EXPECT_EXIT(
        {
            Watchdog watchdog(100ms, 1);
            watchdog.extend(600ms);
            std::this_thread::sleep_for(400ms);
            std::_Exit(7);
        },
        ::testing::ExitedWithCode(7), "");
}

TEST(Watchdog, StandsDownWhenTheWorkEndsInTime) {
    const auto started = std::chrono::steady_clock::now();
    { Watchdog watchdog(30s, 1); }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

} // namespace
} // namespace tarvel_focus
