#pragma once

namespace tarvel {

// The application's own style sheet, installed once for the default display.
struct Style {
    static constexpr const char* noticeClass = "tarvel-notice";
    static constexpr const char* titleClass = "tarvel-notice-title";
    static constexpr const char* explanationClass = "tarvel-notice-explanation";

    static void install();
    // Keeps the light appearance even when the desktop prefers a dark one.
    static void preferLightAppearance();
};

} // namespace tarvel
