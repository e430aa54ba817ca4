#pragma once
#include <filesystem>

namespace tarvel {

// Where the application's files lie, relative to its own executable ("bin/tarvel"): the same
// layout in the build tree and in an installed tree.
struct Resources {
    static constexpr const char* textDomain = "tarvel";

    // The folder of the running executable.
    static std::filesystem::path executableDirectory();
    // "../share/tarvel": holds WebResources.
    static std::filesystem::path applicationDirectory();
    // "../share/locale": the compiled translations.
    static std::filesystem::path localeDirectory();

    // Binds the text domain to the locale folder; call once before any text is shown.
    static void setUpLocalization();
};

// Marks a message id where it is defined, for xgettext; tr() translates it where it is shown.
#define N_(messageId) messageId

// A user-visible text: its Japanese original is the message id; a translation replaces it.
const char* tr(const char* messageId);

} // namespace tarvel
