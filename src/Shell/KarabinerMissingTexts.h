#pragma once

// Marks a message id where it is defined, for xgettext (Linux) and the string table (macOS); each
// platform's shell translates it where it is shown.
#ifndef N_
#define N_(messageId) messageId
#endif

namespace tarvel {

// The installation notice's texts. The Japanese originals are the keys of every translation.
struct KarabinerMissingTexts {
    static constexpr const char* title = N_("キー入力の土台コンポーネントが見つかりません");
    static constexpr const char* explanation =
        N_("TarvelがMacにキー配列を反映するには、土台コンポーネントのインストールが必要です。インストール後、もう一度確認してください。");
    static constexpr const char* downloadLabel = N_("土台コンポーネントをダウンロード");
    static constexpr const char* recheckLabel = N_("インストールした — もう一度確認");
};

} // namespace tarvel
