#include "app/applyedits.h"

#include "platform/filelist.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

namespace morvik {

// A row's bytes are handed to the writer as its seven fields.
static_assert(int{tcCount} == int{id3::tfCount} && int{tcTitle} == int{id3::tfTitle} && int{tcGenre} == int{id3::tfGenre});

namespace {

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file has a tag of the view now: read where it went, so writing this
// row again updates it instead of appending another.
void refreshTagPlace(TFileList& record, TTagView view, bool keepDate)
{
    TMP3id reader(view, keepDate);
    reader.Open(record.Path, 0);
    record.HasTag = reader.ReadTag() ? 1 : 0;
    reader.Close();
    record.TagPosition = reader.TagPosition();
}

} // namespace

bool rowChanged(const TFileList& record, const TRowTexts& cells)
{
    for (std::size_t field = 0; field < cells.size(); ++field) {
        if (cells[field] != record.Texts[field].text)
            return true;
    }
    return false;
}

TRowEncoding encodeRow(const TFileList& record, const TRowTexts& cells)
{
    TRowEncoding result;
    for (std::size_t field = 0; field < result.bytes.size(); ++field) {
        if (cells[field] == record.Texts[field].text) {
            result.bytes[field] = record.Texts[field].field();
            continue;
        }
        const std::string utf8 = utf8Bytes(cells[field]);
        const Cp932Encoding encoded = utf8ToCp932(utf8);
        if (!encoded.ok && record.View == TTagView::ID3v2) {
            result.bytes[field] = id3::TTagField{id3Utf16, utf8ToUtf16WithBom(utf8)};
            continue;
        }
        if (!encoded.ok) {
            result.error = QStringLiteral("%1 に書き込めません: 文字「%2」は Shift-JIS で表せません。")
                               .arg(utf8Text(record.Path), utf8Text(encoded.badCharacter));
            return result;
        }
        result.bytes[field] = id3::TTagField{id3Latin, encoded.bytes};
    }
    result.ok = true;
    return result;
}

std::optional<QString> writeRow(TMP3id& tagIO, TTagView view, bool keepDate, TFileList& record,
                                const TRowTexts& cells, const TRowBytes& bytes)
{
    tagIO.SetView(view);
    tagIO.SetKeepDate(keepDate);
    tagIO.Open(record.Path, 2);
    const bool opened = tagIO.IsOpen();
    try {
        tagIO.WriteTag(record.HasTag != 0, bytes, record.TagPosition);
    } catch (const TTagWriteError& e) {
        tagIO.Close();
        return QString::fromUtf8(e.what());
    }
    tagIO.Close();

    // A file that could not be opened was not written: its record keeps the
    // old texts so the next apply tries again.
    if (!opened)
        return std::nullopt;
    for (std::size_t field = 0; field < bytes.size(); ++field)
        record.Texts[field] = TTagText{bytes[field].bytes, cells[field], bytes[field].encoding};
    if (!record.HasTag)
        refreshTagPlace(record, view, keepDate);
    return std::nullopt;
}

bool usableFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool renameToCell(TFileList& record, const QString& cell, const TFileNameList& folder)
{
    const std::string oldName = baseName(record.Path);
    const std::string newName = cell == shownFileName(oldName) ? oldName : utf8Bytes(cell);
    const std::string newPath = folder.PathOf(newName);
    if (newPath == record.Path)
        return false;
    // The name must stay a name in this folder, and an existing file is
    // never replaced.
    if (!usableFileName(newName) || renameNoReplace(record.Path, newPath) != 0)
        return false;
    record.Path = newPath;
    return true;
}

} // namespace morvik
