#pragma once
#include <string>
#include <string_view>

namespace tarvel {

// What Tarvel relies on of Karabiner-Elements. Never instantiated.
struct KarabinerEnvironment {
    static constexpr std::string_view cliPath = "/Library/Application Support/org.pqrs/Karabiner-Elements/bin/karabiner_cli";
    static constexpr std::string_view lintOption = "--lint-complex-modifications";
    static constexpr std::string_view settingsBundleIdentifier = "org.pqrs.Karabiner-Elements.Settings";
    // Below the user's home folder.
    static constexpr std::string_view configRelativePath = ".config/karabiner/karabiner.json";

    // The public download page, opened by the installation notice.
    static const std::string& downloadURL();

    // True exactly when the platform can locate Karabiner-Elements' settings application. Asks anew
    // on every call. Implemented by the platform layer.
    static bool isInstalled();
};

} // namespace tarvel
