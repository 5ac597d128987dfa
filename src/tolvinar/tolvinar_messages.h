// What the merge program Tolvinar says. UTF-8 here, leaving in the
// console's encoding like Quarnel's own messages; "%s" is system text.
#ifndef QUARNEL_TOLVINAR_TOLVINAR_MESSAGES_H_
#define QUARNEL_TOLVINAR_TOLVINAR_MESSAGES_H_

namespace quarnel::tolvinar_msg {

// The short usage that --help, -h and /? print on standard output.
inline constexpr const char* kHelp =
    "Tolvinar リストファイル 出力ファイル|stdout [キー指定] [/W | /Wide] [/I] [/R]\n"
    "\n"
    "  リストファイルに 1 行に一つずつ書かれた、並べ替え済みのラン ファイル\n"
    "  (各行が CR LF で終わるテキスト) を併合して、出力ファイル (stdout なら\n"
    "  標準出力) に書き出します。通常は Quarnel が自動的に起動します。\n"
    "\n"
    "  キー指定  Quarnel と同じです。例: '(1,10)[D;I]'\n"
    "  /W        ラン ファイルは BOM なしの UTF-16LE\n"
    "  /Wide     ラン ファイルと出力は FF FE で始まる UTF-16LE\n"
    "  /I        英字の大文字・小文字を区別しない (ナローのみ)\n"
    "  /R        比較を逆にする (Quarnel /R が作った逆順のラン)\n"
    "  ランを作ったときと同じキー指定とオプションを指定してください。\n"
    "\n"
    "  Tolvinar --help     この説明を表示します\n"
    "  Tolvinar --version  版数を表示します\n"
    "\n"
    "終了コード: 0 成功、1 引数の誤り、2 読み書きの失敗\n";

inline constexpr const char* kBadArgument = "引数\"%s\"に誤りがあります";
inline constexpr const char* kWideConflict =
    "/Wと/Wideは同時に指定できません";
inline constexpr const char* kListUnreadable =
    "リストファイル\"%s\"を読み込めません";
inline constexpr const char* kListEmpty =
    "リストファイル\"%s\"にマージするファイルがありません";
inline constexpr const char* kRunUnreadable = "ファイル\"%s\"を読み込めません";
inline constexpr const char* kCannotCreate =
    "ファイル\"%s\"を作成できません";
inline constexpr const char* kWriteFailed =
    "\"%s\"に書き込めません(ディスクの容量が不足しています)";
inline constexpr const char* kStdoutFailed = "標準出力に書き込めません";
inline constexpr const char* kCannotPlace =
    "出力ファイル\"%s\"を置き換えられません";
inline constexpr const char* kNoMemory = "マージ用のメモリが不足しています";
inline constexpr const char* kTooFewFiles =
    "同時に開けるファイルの数が少なすぎます";

}  // namespace quarnel::tolvinar_msg

#endif  // QUARNEL_TOLVINAR_TOLVINAR_MESSAGES_H_
