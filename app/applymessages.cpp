#include "app/applymessages.h"

#include "app/filerecords.h"

#include <QStringList>
#include <cerrno>

namespace morvik {
namespace {

struct ErrorText {
    int err;
    const char* text;
};

// The errors a tag write or a rename meets in practice. The C library's
// own texts are English here (no Japanese locale is assumed installed).
const ErrorText kErrorTexts[] = {
    {EACCES, "アクセスが拒否されました"},
    {EPERM, "この操作は許可されていません"},
    {ENOENT, "ファイルまたはフォルダーがありません"},
    {EROFS, "読み取り専用のファイルシステムです"},
    {ENOSPC, "ディスクに空きがありません"},
    {EDQUOT, "ディスク使用量の上限を超えました"},
    {EFBIG, "ファイルが大きすぎます"},
    {EIO, "入出力エラーが起きました"},
    {EISDIR, "フォルダーです"},
    {ENOTDIR, "フォルダーではありません"},
    {EEXIST, "同じ名前のファイルがあります"},
    {ENAMETOOLONG, "名前が長すぎます"},
    {ELOOP, "シンボリックリンクが多すぎます"},
    {EBUSY, "使用中です"},
    {ETXTBSY, "実行中のファイルです"},
    {EMFILE, "開いているファイルが多すぎます"},
    {ENFILE, "システム全体で開いているファイルが多すぎます"},
    {ENOMEM, "メモリが足りません"},
    {EINVAL, "引数が正しくありません"},
    {EAGAIN, "一時的に使えません"},
    {EINTR, "割り込みで中断されました"},
    {EXDEV, "別のファイルシステムです"},
    {ENXIO, "デバイスがありません"},
    {ENODEV, "デバイスがありません"},
    {ESTALE, "ファイルハンドルが古くなりました"},
    {EOPNOTSUPP, "この操作には対応していません"},
    {ENOTEMPTY, "フォルダーが空ではありません"},
    {ENOTCONN, "接続されていません"},
    {ETIMEDOUT, "時間切れになりました"},
};

// Why the writer stopped, and what the user should know beyond it.
struct FaultText {
    QString why;
    QString note;
};

FaultText faultText(const TTagWriteError& error)
{
    switch (error.fault()) {
    case TWriteFault::BadTrack:
        return {QStringLiteral("トラック番号「%1」は書き込めない形です").arg(utf8Text(error.subject())), {}};
    case TWriteFault::NotShiftJis: return {QStringLiteral("ID3v1 タグには Shift-JIS の文字しか書けません"), {}};
    case TWriteFault::TagMoved:
        return {QStringLiteral("読み込んだ位置に ID3v1 タグがありません"),
                QStringLiteral("読み込んだ後にファイルが変わりました。最新の情報に更新してください。")};
    case TWriteFault::ReadFile: return {QStringLiteral("ファイルを読み込めません"), {}};
    case TWriteFault::AppendId3v1: return {QStringLiteral("ID3v1 タグを追加できません"), {}};
    case TWriteFault::WriteId3v1: return {QStringLiteral("ID3v1 タグを書き換えられません"), {}};
    case TWriteFault::BadId3v2Size:
        return {QStringLiteral("ID3v2 タグのサイズが正しくなく、その後に音声がありません"),
                QStringLiteral("ファイルはそのままです。")};
    case TWriteFault::WriteId3v2: return {QStringLiteral("ID3v2 タグを書き換えられません"), {}};
    case TWriteFault::TagTooLarge: return {QStringLiteral("タグが大きすぎます"), {}};
    case TWriteFault::WriteNewFile: return {QStringLiteral("新しい内容を書き込めません"), {}};
    case TWriteFault::FileMissing: return {QStringLiteral("ファイルが見つかりません"), {}};
    case TWriteFault::FileReplaced: return {QStringLiteral("書き込みの間にファイルが置き換えられました"), {}};
    case TWriteFault::TempFile: return {QStringLiteral("一時ファイルを作れません"), {}};
    case TWriteFault::ReplaceFile: return {QStringLiteral("ファイルを置き換えられません"), {}};
    case TWriteFault::MakeFolder:
        return {QStringLiteral("フォルダー「%1」を作れません").arg(shownPath(error.subject())), {}};
    case TWriteFault::WriteFile: return {QStringLiteral("ファイルを書き換えられません"), {}};
    case TWriteFault::CopyPending:
        return {QStringLiteral("ファイルを書き換えられません"),
                QStringLiteral("次にこのファイルに書き込むとき、書きかけの内容を書き終えます。")};
    case TWriteFault::FinishInterrupted: return {QStringLiteral("中断された書き込みを終えられません"), {}};
    }
    return {QStringLiteral("タグを書き込めません"), {}};
}

} // namespace

QString systemErrorMessage(int err)
{
    for (const ErrorText& known : kErrorTexts) {
        if (known.err == err)
            return QString::fromUtf8(known.text);
    }
    return QStringLiteral("システムエラー %1").arg(err);
}

QString writeErrorMessage(const TTagWriteError& error)
{
    const FaultText text = faultText(error);
    QString message = QStringLiteral("%1 に書き込めません: %2").arg(shownPath(error.fileName()), text.why);
    if (error.systemError() != 0)
        message += QStringLiteral("（%1）").arg(systemErrorMessage(error.systemError()));
    message += QStringLiteral("。");
    if (!text.note.isEmpty())
        message += text.note;
    return message;
}

QString unwritableCharacterMessage(const std::string& path, const std::string& character)
{
    return QStringLiteral("%1 に書き込めません: 文字「%2」は Shift-JIS で表せません。")
        .arg(shownPath(path), utf8Text(character));
}

QString badTrackMessage(const std::string& path, const QString& track, TTagView view)
{
    const QString form = view == TTagView::ID3v1 ? QStringLiteral("0 から 255 までの数、または「2/12」の形")
                                                 : QStringLiteral("数字、または「2/12」の形");
    return QStringLiteral("%1 に書き込めません: トラック番号「%2」は%3ではありません。")
        .arg(shownPath(path), track, form);
}

QString applyStatusText(std::int32_t writeFailures, std::int32_t renameFailures)
{
    QStringList failures;
    if (writeFailures > 0)
        failures << QStringLiteral("書込失敗 %1 件").arg(writeFailures);
    if (renameFailures > 0)
        failures << QStringLiteral("名前変更失敗 %1 件").arg(renameFailures);
    const QString done = QStringLiteral("書込終了");
    return failures.isEmpty() ? done : done + QStringLiteral("（%1）").arg(failures.join(QStringLiteral("・")));
}

} // namespace morvik
