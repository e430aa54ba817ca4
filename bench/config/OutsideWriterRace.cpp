// Another program saving karabiner.json (as Karabiner-Elements' settings, an editor or git do: a
// new file renamed over it) again and again while applies run in a loop the way the page makes
// them (read the file and its digest, keep every rule, add one). The other program waits between
// its saves about as long as an apply takes (a random pause of up to twice the mean apply), so that
// saves fall in every moment of an apply, its last ones included. Afterwards every version the
// other program saved must be the live file, in a backup, or replaced by that program's own next
// save. Run through bench/outside-writer-race. Linux: the other program's rename is an exchange, so
// that it sees what it replaced.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Karabiner/KarabinerConfig.h"
#include "Karabiner/KarabinerWriter.h"
#include "Platform/FileIO.h"

namespace fs = std::filesystem;
using namespace tarvel;

namespace {

std::string slurp(const fs::path& path) {
    auto bytes = readWholeFile(path);
    return bytes ? *bytes : std::string();
}

void put(const fs::path& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// The other program's version `k`: its own profile name and one rule of its own.
std::string version(int k) {
    Json rule = {{"description", "outside " + std::to_string(k)},
                 {"manipulators", {{{"type", "basic"}, {"from", {{"key_code", "a"}}}, {"to", {{{"key_code", "b"}}}}}}}};
    return Json{{"profiles", {{{"name", "outside " + std::to_string(k)}, {"selected", true}, {"complex_modifications", {{"rules", {rule}}}}}}}}
        .dump(4);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const fs::path work = fs::temp_directory_path() / ("tarvel-race-" + std::to_string(::getpid()));
    const fs::path folder = work / "karabiner", config = folder / "karabiner.json", theirs = folder / "karabiner.json.outside";
    fs::create_directories(folder);
    std::vector<std::string> versions = {version(0)};
    put(config, versions[0]);

    std::atomic<bool> done = false;
    std::atomic<long> meanApplyMicros = 10000;
    std::set<std::string> supersededByThemselves;  // versions their own next save replaced
    int outsideSaves = 0;
    std::thread outside([&] {
        std::mt19937 random(42);
        for (int k = 1; !done; ++k) {
            versions.push_back(version(k));
            put(theirs, versions.back());
            if (::renameat2(AT_FDCWD, theirs.c_str(), AT_FDCWD, config.c_str(), RENAME_EXCHANGE) != 0) {
                std::perror("exchange");
                std::exit(2);
            }
            const std::string replaced = slurp(theirs);
            if (replaced == versions[versions.size() - 2]) supersededByThemselves.insert(replaced);
            fs::remove(theirs);
            ++outsideSaves;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % (2 * meanApplyMicros + 1)));
        }
    });

    int ok = 0, changed = 0, failed = 0;
    std::map<std::string, int> failures;
    const auto start = std::chrono::steady_clock::now(), end = start + std::chrono::seconds(seconds);
    for (int n = 0; std::chrono::steady_clock::now() < end; ++n) {
        if (n > 0) meanApplyMicros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() / n;
        auto bytes = readWholeFile(config);
        if (!bytes) continue;
        KarabinerApplyRequest request;
        request.baseDigest = KarabinerWriter::digest(*bytes);
        auto text = examineConfiguration(*bytes);
        if (!text) continue;
        for (std::size_t i = 0; i < text->rules(text->selected).size(); ++i) request.keep.push_back(i);
        request.rules.push_back({"apply " + std::to_string(n), true,
                                 Json::array({{{"type", "basic"}, {"from", {{"key_code", "c"}}}, {"to", {{{"key_code", "d"}}}}}})});
        auto result = KarabinerWriter::apply(request, config, FileManager::defaultManager());
        if (result) ++ok;
        else if (errorCode(result.error()) == "changed") ++changed;
        else ++failed, ++failures[localizedDescription(result.error())];
    }
    done = true;
    outside.join();

    std::set<std::string> backedUp;
    int backups = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        if (KarabinerWriter::isBackupName(entry.path().filename().string())) {
            backedUp.insert(slurp(entry.path()));
            ++backups;
        }
    const std::string live = slurp(config);
    int lost = 0;
    for (const auto& v : versions)
        if (v != live && !backedUp.count(v) && !supersededByThemselves.count(v)) ++lost;

    std::printf("load: %s", [] {
        std::string load = slurp("/proc/loadavg");
        return load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1)) + "\n";
    }().c_str());
    std::printf("%d s, one apply %.1f ms: %d applies ok, %d refused as changed, %d failed; %d outside saves, lost %d; %d backups\n",
                seconds, static_cast<double>(meanApplyMicros) / 1000.0, ok, changed, failed, outsideSaves, lost, backups);
    for (const auto& [text, count] : failures) std::printf("  %d x %s\n", count, text.c_str());
    fs::remove_all(work);
    return lost == 0 && failed == 0 ? 0 : 1;
}
