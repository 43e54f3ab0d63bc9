#include "app/applyedits.h"

#include "app/applymessages.h"
#include "app/cellcommands.h"
#include "app/renamerules.h"
#include "platform/filelist.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

namespace morvik {

// A row's bytes are handed to the writer as its seven fields.
static_assert(int{tcCount} == int{id3::tfCount} && int{tcTitle} == int{id3::tfTitle} && int{tcGenre} == int{id3::tfGenre});

namespace {

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
        std::uint32_t number = 0;
        if (field == tcTrack && !id3::parseTrack(utf8, record.View, &number)) {
            result.error = badTrackMessage(record.Path, cells[field], record.View);
            return result;
        }
        const Cp932Encoding encoded = utf8ToCp932(utf8);
        if (!encoded.ok && record.View == TTagView::ID3v2) {
            result.bytes[field] = id3::TTagField{id3Utf16, utf8ToUtf16WithBom(utf8)};
            continue;
        }
        if (!encoded.ok) {
            result.error = unwritableCharacterMessage(record.Path, encoded.badCharacter);
            return result;
        }
        result.bytes[field] = id3::TTagField{id3Latin, encoded.bytes};
    }
    result.ok = true;
    return result;
}

TRowWrite writeRowTag(TMP3id& tagIO, TTagView view, bool keepDate, TFileList& record, TRowTexts& cells,
                      const TRowBytes& bytes)
{
    tagIO.SetView(view);
    tagIO.SetKeepDate(keepDate);
    tagIO.Open(record.Path, 2);
    const bool opened = tagIO.IsOpen();
    try {
        tagIO.WriteTag(record.HasTag != 0, bytes, record.TagPosition);
    } catch (const TTagWriteError& e) {
        tagIO.Close();
        return {TRowWrite::Failed, writeErrorMessage(e)};
    }
    tagIO.Close();

    // A file that could not be opened was not written: its record keeps the
    // old texts so the next apply tries again.
    if (!opened)
        return {TRowWrite::NotOpened, {}};
    const TRowBytes written = view == TTagView::ID3v1 ? id3::asWrittenToId3v1(bytes) : bytes;
    for (std::size_t field = 0; field < written.size(); ++field) {
        // A field that went in whole keeps the cell's text: Shift-JIS bytes
        // that are not CP932 show altered, and must not look edited.
        record.Texts[field] = written[field] == bytes[field]
                                  ? TTagText{bytes[field].bytes, cells[field], bytes[field].encoding}
                                  : tagText(written[field]);
        cells[field] = record.Texts[field].text;
    }
    if (!record.HasTag)
        refreshTagPlace(record, view, keepDate);
    return {TRowWrite::Written, {}};
}

TRename renameToCell(TFileList& record, const QString& cell, const TFileNameList& folder)
{
    const std::string oldName = names::baseName(record.Path);
    const std::string newName = cell == shownFileName(oldName) ? oldName : utf8Bytes(cell);
    const std::string newPath = folder.PathOf(newName);
    if (newPath == record.Path)
        return TRename::Unchanged;
    // The name must stay a name in this folder, and an existing file is
    // never replaced.
    if (!names::usableFileName(newName) || renameNoReplace(record.Path, newPath) != 0)
        return TRename::Refused;
    record.Path = newPath;
    return TRename::Renamed;
}

TApplyOutcome applyEdits(TFileListL& files, cells::CellTexts& cells, TMP3id& tagIO, TTagView view,
                         bool keepDate, const TFileNameList& folder, const std::function<void()>& afterRow)
{
    TApplyOutcome outcome;
    // `afterRow` may let a reload replace the records: each row looks its
    // record up again.
    for (std::int32_t i = 0; i < files.Count; ++i) {
        const std::int32_t row = i + 1;
        TFileList& record = files.Items[static_cast<std::size_t>(i)];
        TRowTexts texts;
        for (std::size_t field = 0; field < texts.size(); ++field)
            texts[field] = utf8Text(cells.text(static_cast<std::int32_t>(field) + 1, row));
        if (rowChanged(record, texts)) {
            const TRowEncoding encoded = encodeRow(record, texts);
            if (!encoded.ok) {
                outcome.stopped = encoded.error;
                return outcome;
            }
            const TRowWrite written = writeRowTag(tagIO, view, keepDate, record, texts, encoded.bytes);
            if (written.result == TRowWrite::Failed) {
                outcome.stopped = written.error;
                return outcome;
            }
            if (written.result == TRowWrite::NotOpened)
                ++outcome.writeFailures;
            for (std::size_t field = 0; field < texts.size(); ++field)
                cells.setText(static_cast<std::int32_t>(field) + 1, row, utf8Bytes(texts[field]));
        }
        afterRow();
    }
    for (std::int32_t i = 0; i < files.Count; ++i) {
        TFileList& record = files.Items[static_cast<std::size_t>(i)];
        if (renameToCell(record, utf8Text(cells.text(0, i + 1)), folder) == TRename::Refused)
            ++outcome.renameFailures;
    }
    return outcome;
}

} // namespace morvik
