// Time of AppInventory::installed over generated XDG trees of applications with PNG or SVG icons,
// and the JSON payload it adds per application.
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>

#include "Apps/AppInventory.h"
#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/DesktopIcons.h"
#include "Apps/linux/IcuNameCollation.h"
#include "Apps/linux/ProcessIdentity.h"
#include "XdgTree.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::Rgba;
using testing::XdgTree;

enum class IconKind { png, svg, mixed };  // mixed: the first half PNG, the rest SVG

// An icon like real ones: a shaded disc with a soft edge and a light mark, in the app's own hue.
Rgba paintIcon(int x, int y, int w, int h, int hue) {
    const double cx = (x + 0.5) / w - 0.5, cy = (y + 0.5) / h - 0.5;
    const double r = std::sqrt(cx * cx + cy * cy);
    const double edge = std::clamp((0.46 - r) * w, 0.0, 1.0);
    const double shade = 0.55 + 0.45 * (0.5 - cy);
    auto channel = [&](int phase) {
        return static_cast<std::uint8_t>(std::clamp(127.5 * (1 + std::sin((hue + phase) * 0.0174533)) * shade, 0.0, 255.0));
    };
    const bool mark = std::abs(cx) < 0.08 && std::abs(cy) < 0.25;
    if (mark && edge > 0) return {240, 240, 240, static_cast<std::uint8_t>(255 * edge)};
    return {channel(0), channel(120), channel(240), static_cast<std::uint8_t>(255 * edge)};
}

std::string svgIcon(int hue) {
    const std::string color = "hsl(" + std::to_string(hue % 360) + ",70%,45%)";
    return R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">)svg"
           R"svg(<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="white" stop-opacity="0.35"/>)svg"
           R"svg(<stop offset="1" stop-color="black" stop-opacity="0.25"/></linearGradient></defs>)svg"
           R"svg(<circle cx="64" cy="64" r="58" fill=")svg" + color + R"svg("/><circle cx="64" cy="64" r="58" fill="url(#g)"/>)svg"
           R"svg(<path d="M44 40h40v12H70v40H58V52H44z" fill="#f0f0f0"/></svg>)svg";
}

// One tree per kind and size, written once.
class Trees {
public:
    const XdgTree& get(IconKind kind, int count) {
        auto& slot = trees_[{kind, count}];
        if (!slot) {
            slot = std::make_unique<XdgTree>();
            const fs::path apps = slot->dataHome() / "applications";
            for (int i = 0; i < count; ++i) {
                const std::string id = "org.bench.App" + std::to_string(i);
                slot->entry(apps, id + ".desktop", "Application " + std::to_string(i), "Icon=" + id + "\n");
                if (kind == IconKind::png || (kind == IconKind::mixed && i < count / 2))
                    slot->pngIcon(id, 48, 48, [i](int x, int y, int w, int h) { return paintIcon(x, y, w, h, i * 37); });
                else
                    slot->write(fs::path("home/icons/hicolor/scalable/apps") / (id + ".svg"), svgIcon(i * 37));
            }
        }
        return *slot;
    }

private:
    std::map<std::pair<IconKind, int>, std::unique_ptr<XdgTree>> trees_;
};

Trees trees;

class NoRunning : public RunningApplications {
public:
    std::vector<RunningApplication> runningApplications() const override { return {}; }
};

void installed(benchmark::State& state, IconKind kind) {
    const int count = static_cast<int>(state.range(0));
    const XdgTree& tree = trees.get(kind, count);
    std::size_t payload = 0, listed = 0;
    for (auto _ : state) {
        // Everything a request builds, as the host does for each one.
        IconLookup icons(tree.iconSearchPath());
        DesktopAppCatalog catalog(icons, tree.applicationFolders());
        NoRunning running;
        IcuNameCollation collation;
        ProcessIdentity identity;
        auto list = AppInventory::installed({catalog, running, collation, identity});
        benchmark::DoNotOptimize(list);
        state.PauseTiming();
        listed = list.size();
        AppInventoryPayload only;
        only.installed = std::move(list);
        payload = encodeJSON(only).value_or("").size();
        state.ResumeTiming();
    }
    if (listed != static_cast<std::size_t>(count)) state.SkipWithError("not every application was listed");
    state.counters["apps"] = static_cast<double>(listed);
    state.counters["payload_bytes_per_app"] = static_cast<double>(payload) / std::max<std::size_t>(listed, 1);
    // CPU time per application (the rate's inverse).
    state.counters["per_app"] = benchmark::Counter(static_cast<double>(count),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetComplexityN(count);
}

BENCHMARK_CAPTURE(installed, png, IconKind::png)->Arg(75)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK_CAPTURE(installed, svg, IconKind::svg)->Arg(75)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
// The whole tree of the goal: 300 applications with PNG icons and 300 with SVG icons.
BENCHMARK_CAPTURE(installed, mixed, IconKind::mixed)->Arg(600)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarvel

BENCHMARK_MAIN();
