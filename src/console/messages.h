// Every text Quarnel says, kept once. They are written here in UTF-8 and
// reach the console as Shift_JIS bytes, or unchanged under a UTF-8 locale
// (see console.h). A "%s" stands for system text (a path, a token), which
// is inserted unchanged.
#ifndef QUARNEL_CONSOLE_MESSAGES_H_
#define QUARNEL_CONSOLE_MESSAGES_H_

namespace quarnel::msg {

// Driver.
inline constexpr const char* kStart = "□開始";
inline constexpr const char* kEnd = "□終了";
inline constexpr const char* kFrameFormat = "%s %04d/%02d/%02d %02d:%02d:%02d\n";
inline constexpr const char* kMergeMissing = "マージプログラム\"%s\"が存在しません";
inline constexpr const char* kMergeFailed = "マージプログラム\"%s\"が異常終了しました";

// The short usage that --help, -h and /? print on standard output.
inline constexpr const char* kHelp =
    "Quarnel 入力ファイル 出力ファイル|stdout [オプション] [キー指定]\n"
    "\n"
    "  入力ファイルの行を並べ替えて、出力ファイル (stdout なら標準出力) に\n"
    "  書き出します。文字コードは Shift_JIS、/W または先頭の FF FE で\n"
    "  UTF-16LE です。出力の各行は CR LF で終わります。\n"
    "\n"
    "オプション (英字の大文字・小文字は問いません。/ の代わりに - も可):\n"
    "  /W, /Wide         UTF-16LE のファイルとして扱う\n"
    "  /I                英字の大文字・小文字を区別しない (ナローのみ)\n"
    "  /R, /Reverse      比較を逆にして逆順に並べる (キーは昇順・降順が逆に)\n"
    "  /M n, /Mem n      並べ替えに使うメモリを n MB (1～2000) までにする\n"
    "  /T dir, /Tmp dir  作業ディレクトリを dir にする\n"
    "\n"
    "キー指定 (最大 256 個。シェルでは引用符で囲みます):\n"
    "  (開始,長さ)[順序;型]        例: '(1,10)[D;I]'\n"
    "  key(開始,長さ)attr(順序,型)  例: 'key(1,10)attr(D,I)'\n"
    "  順序: A 昇順 (既定)、D 降順  型: S 文字 (既定)、I または Z 数値\n"
    "\n"
    "  Quarnel --help     この説明を表示します\n"
    "  Quarnel --version  版数を表示します\n"
    "  Quarnel            マニュアル (Jman.doc) を表示します\n"
    "\n"
    "終了コード: 0 成功、255 失敗 (既存の出力ファイルは元のまま)\n";

// Console.
inline constexpr const char* kErrorMark = "◆";
inline constexpr const char* kNotFound = "\"%s\"は存在しません";

// Command line.
inline constexpr const char* kNoMemory =
    "ソート用のメモリが不足しています。/mオプションに使用可能なメモリサイズを"
    "指定して再度実行してください。";
inline constexpr const char* kInputFile = "◇入力ファイル名は %s です\n";
inline constexpr const char* kToStdout = "◇標準出力に出力します\n";
inline constexpr const char* kSameFile = "入力ファイル\"%s\"と出力ファイルが同じです";
inline constexpr const char* kBadFile = "不当なファイル\"%s\"です";
inline constexpr const char* kOutputFile = "◇出力ファイル名は %s です\n";
inline constexpr const char* kWide = "◇ワイド文字を扱います\n";
inline constexpr const char* kBadMemory = "メモリの指定\"%s\"に誤りがあります";
inline constexpr const char* kWorkDir = "◇ソート用の作業領域は %s です\n";
inline constexpr const char* kNotDirectory = "[%s] はディレクトリではありません";
inline constexpr const char* kCaseKeptWide =
    "◇大文字・小文字の区別をします(/Iオプションは無効)\n";
inline constexpr const char* kCaseIgnored = "◇大文字・小文字の区別はしません\n";
inline constexpr const char* kWholeLine = "◇行全体を昇順にソート対象にします\n";
inline constexpr const char* kUnknownOption = "オプション\"%s\"は使えません";
inline constexpr const char* kUnusedWord = "◇\"%s\"は使えないオプションのため無視しました\n";
inline constexpr const char* kWholeLineDescending = "◇行全体を降順にソート対象にします\n";
inline constexpr const char* kReverse = "◇すべての比較を逆にして、逆順に並べ替えます(/R)\n";

// Key specification and sort conditions.
inline constexpr const char* kBadKeySpec = "\"%s\"の指定に誤りがあります";
inline constexpr const char* kNoStartColumn = "開始カラムが指定されていません";
inline constexpr const char* kNoLength = "比較する長さが指定されていません";
inline constexpr const char* kBadType = "キーの比較タイプ指定が誤っています";
inline constexpr const char* kBadOrder = "キーの昇順・降順の指定が誤っています";
inline constexpr const char* kBadRange =
    "カラムと長さの指定は1～65536の範囲で指定してください";
inline constexpr const char* kConditionHead = "◇ソート条件[%02d]は ";
inline constexpr const char* kConditionWide = "%02d 文字目から %02d 文字を";
inline constexpr const char* kConditionNarrow = "%02d カラム目から %02d バイトを";
inline constexpr const char* kAsText = "文字として";
inline constexpr const char* kAsNumber = "実数として";
inline constexpr const char* kAscending = "昇順で";
inline constexpr const char* kDescending = "降順で";
inline constexpr const char* kConditionTail = " ソートします\n";

// Input probe and memory budget.
inline constexpr const char* kNotShiftJis = "\"%s\"はShift_JISファイルではありません";
inline constexpr const char* kZeroSize = "ファイルサイズがゼロバイトです";
inline constexpr const char* kBudgetA = "◇ソート用のメモリを %dMB使用します(A)\n";
inline constexpr const char* kBudgetB = "◇ソート用のメモリを %dMB使用します(B)\n";

// Run builder.
inline constexpr const char* kLineTooLong = "最大レコード長[65535]を越えています";
inline constexpr const char* kReadFailed = "\"%s\"を読み込めません";

// Standard-output delivery.
inline constexpr const char* kStdoutFailed = "標準出力に書き込めません";

// Output writer, run files and the job's work folder.
inline constexpr const char* kCannotOpenForWrite = "(%s)が書き込み用にオープンできません\n";
inline constexpr const char* kDiskFull = "ハードディスクの容量が不足しています\n";
inline constexpr const char* kNoResources = "システムリソースが不足しています\n";
inline constexpr const char* kCannotMakeWorkFolder = "作業領域\"%s\"にフォルダを作成できません";

}  // namespace quarnel::msg

#endif  // QUARNEL_CONSOLE_MESSAGES_H_
