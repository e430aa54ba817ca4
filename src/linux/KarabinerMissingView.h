#pragma once
#include <gtk/gtk.h>

#include <functional>

#include "linux/Resources.h"

namespace tarvel {

// The notice shown instead of the editor while Karabiner-Elements is missing: what is missing, a
// button to its download page and a button to check again.
struct KarabinerMissingView {
    static constexpr const char* title = N_("キー入力の土台コンポーネントが見つかりません");
    static constexpr const char* explanation =
        N_("TarvelがMacにキー配列を反映するには、土台コンポーネントのインストールが必要です。インストール後、もう一度確認してください。");
    static constexpr const char* downloadLabel = N_("土台コンポーネントをダウンロード");
    static constexpr const char* recheckLabel = N_("インストールした — もう一度確認");
    static constexpr const char* symbolName = "input-keyboard-symbolic";

    // Widget names, for tests and style.
    static constexpr const char* downloadButtonName = "download";
    static constexpr const char* recheckButtonName = "recheck";

    // `onRecheck` runs when the user asks to check again. Returns a floating reference.
    static GtkWidget* create(std::function<void()> onRecheck);
};

} // namespace tarvel
