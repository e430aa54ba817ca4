#pragma once
// A folder monitor and a timer that do nothing until the test says so.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FolderMonitor.h"
#include "Platform/Timer.h"

namespace tarvel::test {

class FakeFolderMonitor : public FolderMonitor {
public:
    struct Active {
        std::filesystem::path folder;
        std::string entry;
        Changed changed;
    };

    std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, const std::string& entry, Changed changed) override {
        auto active = std::make_shared<Active>(Active{folder, entry, std::move(changed)});
        watches.push_back(active);
        struct Watch : FolderWatch {
            std::weak_ptr<Active> active;
            FakeFolderMonitor* monitor;
            ~Watch() override {
                auto& list = monitor->watches;
                list.erase(std::remove(list.begin(), list.end(), active.lock()), list.end());
            }
        };
        auto watch = std::make_unique<Watch>();
        watch->active = active;
        watch->monitor = this;
        return watch;
    }

    // As the platform reports a change of `entry` in `folder`.
    void change(const std::filesystem::path& folder, const std::string& entry) {
        auto current = watches;
        for (const auto& active : current)
            if (active->folder == folder) active->changed(entry);
    }

    // "folder entry" for each watch, in the order they were made.
    std::vector<std::string> watched() const {
        std::vector<std::string> list;
        for (const auto& active : watches) list.push_back(active->folder.string() + " " + active->entry);
        return list;
    }

    std::vector<std::shared_ptr<Active>> watches;
};

class FakeTimer : public Timer {
public:
    void runAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        pending.push_back({delay, std::move(work)});
    }
    // Lets time pass until nothing is left waiting.
    void runAll() {
        while (!pending.empty()) {
            auto next = std::move(pending.front());
            pending.erase(pending.begin());
            next.second();
        }
    }
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> pending;
};

} // namespace tarvel::test
