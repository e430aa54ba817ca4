// The scanner against Karabiner-Elements' reader (nlohmann::json, comments allowed) over many
// seeded inputs: generated karabiner.json-like documents, mutations of them and mutations of the
// fixtures. Prints how often the two agree, the outcomes that part them, and examples of any
// disagreement with the input's number, so that it can be made again. Run through
// bench/scanner-differential.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "Karabiner/JsoncDifferential.h"

namespace fs = std::filesystem;
using namespace tarvel::jsonc::differential;

namespace {

enum class Source { document, mutation, fixture };

// Input `index` of a run: five in ten generated documents, four mutations of one, one a mutation of
// a fixture.
std::string input(std::uint64_t seed, std::uint64_t index, const std::vector<std::string>& fixtures, Source& source) {
    Random random = randomFor(seed, index);
    const std::uint64_t slot = index % 10;
    if (slot == 9 && !fixtures.empty()) {
        source = Source::fixture;
        return mutate({fixtures[random.below(fixtures.size())], {}}, random);
    }
    const std::size_t budget = 200 + random.below(random.percent(10) ? 20000 : 3000);
    Document document = DocumentWriter(random, budget).write();
    if (slot < 5) {
        source = Source::document;
        return std::move(document.text);
    }
    source = Source::mutation;
    return mutate(std::move(document), random);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 4) {
        std::fprintf(stderr, "usage: %s [INPUTS] [SEED] [INDEX]\n", argv[0]);
        return 2;
    }
    const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(TARVEL_FIXTURES_DIR "/karabiner"))
        if (entry.path().extension() != ".md") paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> fixtures;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        fixtures.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (argc == 4) {
        // One input alone, written out as it is, to look at or to turn into a test case.
        Source source;
        const std::string text = input(seed, std::strtoull(argv[3], nullptr, 10), fixtures, source);
        std::fwrite(text.data(), 1, text.size(), stdout);
        const Judgement judgement = judge(text);
        std::fprintf(stderr, "%s%s%s\n", std::string(nameOf(judgement.verdict)).c_str(), judgement.why.empty() ? "" : ": ", judgement.why.c_str());
        return isDisagreement(judgement.verdict) ? 1 : 0;
    }

    std::map<Source, std::map<Verdict, std::uint64_t>> counts;
    std::uint64_t bytes = 0, disagreements = 0;
    std::string examples;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < count; ++i) {
        Source source;
        const std::string text = input(seed, i, fixtures, source);
        bytes += text.size();
        const Judgement judgement = judge(text);
        ++counts[source][judgement.verdict];
        if (isDisagreement(judgement.verdict) && ++disagreements <= 5)
            examples += "  input " + std::to_string(i) + ": " + std::string(nameOf(judgement.verdict)) + ": " + judgement.why + "\n    " +
                        printable(text, 2000) + "\n";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("%llu inputs from seed %llu, %.1f MB, %.1f s\n", static_cast<unsigned long long>(count), static_cast<unsigned long long>(seed),
                static_cast<double>(bytes) / 1e6, seconds);
    const std::pair<Source, const char*> sources[] = {
        {Source::document, "generated documents"}, {Source::mutation, "their mutations"}, {Source::fixture, "mutated fixtures"}};
    const Verdict verdicts[] = {Verdict::bothAccept,      Verdict::bothRefuse,  Verdict::deeperThanLimit,
                                Verdict::readerOnly,      Verdict::scannerOnly, Verdict::otherDocument};
    for (const auto& [source, name] : sources) {
        std::uint64_t total = 0;
        for (const auto& [verdict, n] : counts[source]) total += n;
        std::printf("%s: %llu\n", name, static_cast<unsigned long long>(total));
        for (Verdict verdict : verdicts)
            std::printf("  %-46s %llu\n", std::string(nameOf(verdict)).c_str(), static_cast<unsigned long long>(counts[source][verdict]));
    }
    std::printf("agreements %llu, disagreements %llu\n", static_cast<unsigned long long>(count - disagreements),
                static_cast<unsigned long long>(disagreements));
    if (disagreements > 0) std::printf("first disagreements (make one again with: INPUTS SEED INDEX):\n%s", examples.c_str());
    return disagreements > 0 ? 1 : 0;
}
