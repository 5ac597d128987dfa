// What the merge program Tolvinar says. UTF-8 here, leaving in the
// console's encoding like Quarnel's own messages; "%s" is system text.
#ifndef QUARNEL_TOLVINAR_TOLVINAR_MESSAGES_H_
#define QUARNEL_TOLVINAR_TOLVINAR_MESSAGES_H_

namespace quarnel::tolvinar_msg {

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
