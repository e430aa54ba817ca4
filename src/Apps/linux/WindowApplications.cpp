#include "Apps/linux/WindowApplications.h"

#include <map>
#include <tuple>

namespace tarvel {

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

} // namespace

std::vector<WindowApplication> groupWindows(const std::vector<WindowFacts>& windows) {
    using Key = std::tuple<bool, std::uint32_t, std::string>;
    std::map<Key, std::size_t> groupOf;
    std::vector<WindowApplication> applications;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const WindowFacts& window = windows[i];
        Key key{window.pid.has_value(), window.pid.value_or(0), window.className.value_or("")};
        auto [it, added] = groupOf.try_emplace(key, applications.size());
        if (added) applications.emplace_back();
        WindowApplication& application = applications[it->second];
        application.windows.push_back(i);
        application.regular = application.regular || window.regular();
    }
    return applications;
}

bool belongsToProcess(const WindowFacts& window, std::uint32_t pid, std::string_view hostName) {
    return window.pid == pid && (!window.clientMachine || *window.clientMachine == hostName);
}

std::optional<std::size_t> matchEntry(const WindowFacts& window, const std::vector<EntryKeys>& entries) {
    auto first = [&](auto&& matches) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (matches(entries[i])) return i;
        return std::nullopt;
    };
    auto isInstanceOrClass = [&](const std::string& value, auto&& equal) {
        return (window.classInstance && equal(*window.classInstance, value)) ||
               (window.className && equal(*window.className, value));
    };
    auto exactly = [](std::string_view a, std::string_view b) { return a == b; };

    if (window.gtkApplicationId && !window.gtkApplicationId->empty()) {
        if (auto found = first([&](const EntryKeys& e) { return e.identifier == *window.gtkApplicationId; })) return found;
    }
    if (auto found = first([&](const EntryKeys& e) {
            return e.startupWMClass && !e.startupWMClass->empty() && isInstanceOrClass(*e.startupWMClass, exactly);
        }))
        return found;
    if (auto found = first([&](const EntryKeys& e) { return !e.identifier.empty() && isInstanceOrClass(e.identifier, exactly); }))
        return found;
    return first([&](const EntryKeys& e) { return !e.identifier.empty() && isInstanceOrClass(e.identifier, equalIgnoringCase); });
}

} // namespace tarvel
