#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/SerialWorker.h"
#include "TestFiles.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SerialWorker, RunsPiecesOneAtATimeInOrderOffTheCallingThreadPastOneThatThrows) {
    std::mutex mutex;
    std::vector<int> ran;
    std::atomic<int> concurrent{0}, mostConcurrent{0}, onCaller{0};
    const auto caller = std::this_thread::get_id();
    {
        SerialWorker worker;
        for (int i = 0; i < 200; ++i) {
            worker.async([&, i] {
                mostConcurrent = std::max(mostConcurrent.load(), ++concurrent);
                if (std::this_thread::get_id() == caller) ++onCaller;
                if (i == 50) {
                    --concurrent;
                    throw std::runtime_error("a failing piece");
                }
                std::lock_guard lock(mutex);
                ran.push_back(i);
                --concurrent;
            });
        }
        ASSERT_TRUE(test::eventually([&] {
            std::lock_guard lock(mutex);
            return ran.size() == 199;
        }));
    }
    for (std::size_t k = 1; k < ran.size(); ++k) EXPECT_LT(ran[k - 1], ran[k]);
    EXPECT_EQ(mostConcurrent, 1);
    EXPECT_EQ(onCaller, 0);
}

TEST(SerialWorker, GoingAwayDropsWhatWaitsAndWaitsForTheRunningPieceOnlySoLong) {
    struct Shared {
        std::atomic<bool> started{false}, finished{false};
        std::atomic<int> laterPieces{0};
    };
    auto shared = std::make_shared<Shared>();
    auto worker = std::make_unique<SerialWorker>(200ms);
    worker->async([shared] {
        shared->started = true;
        std::this_thread::sleep_for(1500ms);  // owns what it touches: it may outlive the worker
        shared->finished = true;
    });
    for (int i = 0; i < 5; ++i) worker->async([shared] { ++shared->laterPieces; });
    ASSERT_TRUE(test::eventually([&] { return shared->started.load(); }));

    const auto started = Clock::now();
    worker.reset();
    EXPECT_LT(Clock::now() - started, 1s);
    EXPECT_TRUE(test::eventually([&] { return shared->finished.load(); }, 5s));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(shared->laterPieces, 0);

    // An idle worker goes away at once, whatever its limit.
    const auto idle = Clock::now();
    { SerialWorker quiet(5s); }
    EXPECT_LT(Clock::now() - idle, 1s);

    // Workers stopped together are waited for one limit in all, not one each.
    std::vector<std::unique_ptr<SerialWorker>> busy;
    auto running = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < 3; ++i) {
        busy.push_back(std::make_unique<SerialWorker>(400ms));
        busy.back()->async([running] {
            ++*running;
            std::this_thread::sleep_for(2s);
        });
    }
    ASSERT_TRUE(test::eventually([&] { return *running == 3; }));
    const auto stopped = Clock::now();
    for (auto& worker : busy) worker->stop();
    busy.clear();
    EXPECT_LT(Clock::now() - stopped, 1000ms);
}

} // namespace
} // namespace tarvel
