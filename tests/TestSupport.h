#pragma once
// The core's tests: the file helpers, and the real file system with failures the test chooses.
#include <optional>

#include "Platform/FileManager.h"
#include "TestFiles.h"

namespace tarvel::test {

class ScriptedFileManager : public PosixFileManager {
public:
    std::optional<Error> copyFailure;
    std::optional<Error> linkFailure;

    std::optional<Error> copyItem(const fs::path& from, const fs::path& to) override {
        if (copyFailure) return copyFailure;
        return PosixFileManager::copyItem(from, to);
    }
    std::optional<Error> linkItem(const fs::path& from, const fs::path& to) override {
        if (linkFailure) return linkFailure;
        return PosixFileManager::linkItem(from, to);
    }
};

} // namespace tarvel::test
