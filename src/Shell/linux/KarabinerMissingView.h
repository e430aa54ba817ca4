#pragma once
#include <gtk/gtk.h>

#include <functional>

#include "Shell/KarabinerMissingTexts.h"
#include "Shell/linux/Resources.h"

namespace tarvel {

// The notice shown instead of the editor while Karabiner-Elements is missing: what is missing, a
// button to its download page and a button to check again.
struct KarabinerMissingView {
    static constexpr const char* title = KarabinerMissingTexts::title;
    static constexpr const char* explanation = KarabinerMissingTexts::explanation;
    static constexpr const char* downloadLabel = KarabinerMissingTexts::downloadLabel;
    static constexpr const char* recheckLabel = KarabinerMissingTexts::recheckLabel;
    static constexpr const char* symbolName = "input-keyboard-symbolic";

    // Widget names, for tests and style.
    static constexpr const char* downloadButtonName = "download";
    static constexpr const char* recheckButtonName = "recheck";

    // `onRecheck` runs when the user asks to check again. Returns a floating reference.
    static GtkWidget* create(std::function<void()> onRecheck);
};

} // namespace tarvel
