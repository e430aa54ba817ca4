// Apply and lint costs on generated karabiner.json files, side by side with jq rewriting the same
// member as a whole process and with the floor of any safe apply: copying the file and waiting for
// the disk. Run through bench/apply, which builds this in Release.
#include <benchmark/benchmark.h>

#include <sys/wait.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "Karabiner/KarabinerConfig.h"
#include "Karabiner/KarabinerLinter.h"
#include "Karabiner/KarabinerWriter.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileIO.h"
#include "Platform/FileManager.h"

namespace fs = std::filesystem;
using tarvel::Json;

namespace {

fs::path workFolder;

Json manipulator(int i) {
    return Json::parse(R"({"type": "basic", "from": {"key_code": "a", "modifiers": {"mandatory": ["left_command", "left_control"],
        "optional": ["any"]}}, "to": [{"shell_command": "open -a 'App )" + std::to_string(i) +
                       R"('"}], "conditions": [{"type": "frontmost_application_unless", "bundle_identifiers": ["^com\\.apple\\.Terminal$"]}]})");
}

// A karabiner.json of about `bytes`, pretty-printed.
std::string generatedConfig(std::size_t bytes) {
    auto document = [](std::size_t count) {
        Json rules = Json::array();
        for (std::size_t i = 0; i < count; ++i)
            rules.push_back({{"description", "rule " + std::to_string(i)}, {"manipulators", {manipulator(static_cast<int>(i))}}});
        Json config = {{"global", {{"show_in_menu_bar", true}}},
                       {"profiles", {{{"name", "Default"}, {"selected", true}, {"complex_modifications", {{"rules", std::move(rules)}}}}}}};
        return config.dump(4) + "\n";
    };
    // Measure a sample, then scale the number of rules to the size wanted.
    const std::size_t sample = document(100).size();
    return document(std::max<std::size_t>(1, bytes * 100 / sample));
}

fs::path configFor(std::size_t bytes) {
    fs::path folder = workFolder / std::to_string(bytes);
    fs::path config = folder / "karabiner.json";
    fs::create_directories(folder);
    std::ofstream(config) << generatedConfig(bytes);
    return config;
}

void removeBackups(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind("karabiner.backup-", 0) == 0) fs::remove(entry.path());
}

const Json ruleSet = [] {
    Json list = Json::array();
    for (int i = 0; i < 20; ++i) list.push_back(manipulator(i));
    return list;
}();

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Puts the file back as it was, on disk, so that no apply waits for another one's writes.
void reset(const fs::path& config, const std::string& original) {
    removeBackups(config.parent_path());
    if (tarvel::writeFileAtomically(config, original)) std::abort();
}

// What the page sends: its rule set, the digest of the file it read and every rule it keeps.
tarvel::KarabinerApplyRequest pageRequest(const std::string& original) {
    tarvel::KarabinerApplyRequest request;
    request.rules = {{"Bench", true, ruleSet}};
    request.baseDigest = tarvel::KarabinerWriter::digest(original);
    auto config = tarvel::examineConfiguration(original);
    const std::size_t count = config->rules(config->selected).size();
    for (std::size_t i = 0; i < count; ++i) request.keep.push_back(i);
    return request;
}

double cpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_Apply(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const fs::path config = configFor(bytes);
    const std::string original = contentOf(config);
    const auto request = pageRequest(original);
    double cpu = 0;
    for (auto _ : state) {
        const double start = cpuSeconds();
        auto result = tarvel::KarabinerWriter::apply(request, config, tarvel::FileManager::defaultManager());
        cpu += cpuSeconds() - start;
        if (!result) state.SkipWithError("apply failed");
        state.PauseTiming();
        reset(config, original);  // every run starts from the same file
        state.ResumeTiming();
    }
    state.counters["cpu_ms"] = cpu * 1000.0 / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The floor: a copy of the same file made durable (read, write a new file, fsync, close).
void BM_CopyAndSync(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const fs::path config = configFor(bytes);
    const fs::path copy = config.parent_path() / "copy.json";
    for (auto _ : state) {
        const std::string content = contentOf(config);
        int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || tarvel::writeAll(fd, content, "copy") || ::fsync(fd) != 0) state.SkipWithError("copy failed");
        ::close(fd);
        state.PauseTiming();
        fs::remove(copy);
        state.ResumeTiming();
    }
}

// jq reading the file, replacing the member and the shell moving the result over the original.
void BM_JqRewrite(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const fs::path config = configFor(bytes);
    const fs::path rules = config.parent_path() / "rules.json";
    std::ofstream(rules) << Json::array({{{"description", "[Tarvel] Bench"}, {"manipulators", ruleSet}}}).dump();
    const std::string script = "jq --indent 4 --slurpfile r '" + rules.string() +
                               "' '(.profiles[] | select(.selected == true) | .complex_modifications.rules) = $r[0]' '" +
                               config.string() + "' > '" + config.string() + ".tmp' && mv '" + config.string() + ".tmp' '" +
                               config.string() + "'";
    for (auto _ : state) {
        auto run = tarvel::runChildProcess({.executable = "/bin/sh", .arguments = {"-c", script}});
        if (!run || run->terminationStatus != 0) state.SkipWithError("jq failed");
    }
}

fs::path standInTool() {
    fs::path tool = workFolder / "karabiner_cli";
    std::ofstream(tool) << "#!/bin/sh\nexit 0\n";
    fs::permissions(tool, fs::perms::owner_all);
    return tool;
}

void BM_LintRoundTrip(benchmark::State& state) {
    const fs::path tool = standInTool();
    for (auto _ : state) {
        if (tarvel::KarabinerLinter::lint("Bench", ruleSet, tool)) state.SkipWithError("lint refused");
    }
}

// The tool alone, started the same way: what lint costs beyond this is its own overhead.
void BM_ToolAlone(benchmark::State& state) {
    const fs::path tool = standInTool();
    const fs::path document = workFolder / "document.json";
    std::ofstream(document) << "{}";
    for (auto _ : state) {
        auto run = tarvel::runChildProcess({.executable = tool, .arguments = {"--lint-complex-modifications", document.string()}});
        if (!run) state.SkipWithError("tool failed");
    }
}

constexpr std::int64_t KB = 1024;
BENCHMARK(BM_Apply)->Arg(100 * KB)->Arg(1024 * KB)->Arg(10 * 1024 * KB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JqRewrite)->Arg(1024 * KB)->Arg(10 * 1024 * KB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyAndSync)->Arg(1024 * KB)->Arg(10 * 1024 * KB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LintRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToolAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's mean time per iteration for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                milliseconds[run.benchmark_name()] = run.real_accumulated_time * 1000.0 / static_cast<double>(run.iterations);
    }
    std::map<std::string, double> milliseconds;
};

} // namespace

int main(int argc, char** argv) {
    std::string pattern = (fs::temp_directory_path() / "tarvel-bench-XXXXXX").string();
    workFolder = ::mkdtemp(pattern.data());

    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fs::remove_all(workFolder);

    auto& ms = reporter.milliseconds;
    auto at = [&](const std::string& name) { return ms.count(name) ? ms[name] : 0.0; };
    const double a100 = at("BM_Apply/102400/real_time"), a1m = at("BM_Apply/1048576/real_time"),
                 a10m = at("BM_Apply/10485760/real_time"), jq1 = at("BM_JqRewrite/1048576/real_time"),
                 jq10 = at("BM_JqRewrite/10485760/real_time"), floor1 = at("BM_CopyAndSync/1048576/real_time"),
                 floor10 = at("BM_CopyAndSync/10485760/real_time"), lint = at("BM_LintRoundTrip/real_time"),
                 tool = at("BM_ToolAlone/real_time");
    std::printf("\nSummary\n");
    std::printf("  1 MB:  apply %.2f ms   jq %.2f ms   copy+fsync %.2f ms   apply/jq %.2f (goal <= 0.3)\n", a1m, jq1, floor1,
                jq1 > 0 ? a1m / jq1 : 0.0);
    std::printf("  10 MB: apply %.2f ms   jq %.2f ms   copy+fsync %.2f ms   apply/floor %.2f (goal <= 3)\n", a10m, jq10, floor10,
                floor10 > 0 ? a10m / floor10 : 0.0);
    // Cost against size: a straight line through the 100 KB and 10 MB points, checked at 1 MB.
    const double slope = (a10m - a100) / (10.0 - 0.09765625), fixed = a100 - slope * 0.09765625;
    std::printf("  apply cost: %.2f ms fixed + %.2f ms per MB; the line predicts %.2f ms at 1 MB, measured %.2f ms\n", fixed,
                slope, fixed + slope, a1m);
    std::printf("  lint round trip: %.2f ms   tool alone: %.2f ms   linter overhead: %.2f ms\n", lint, tool, lint - tool);
    return 0;
}
