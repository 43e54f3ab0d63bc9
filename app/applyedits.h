// The apply of the grid's edits to the files, below the window: which rows
// changed, the bytes each field is written as, the write of one row, the
// rename rules, and the whole apply over the grid's cells with what failed.
// The window moves its progress bar and shows the outcome.
#pragma once

#include "app/filerecords.h"
#include "id3/mp3id.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace morvik {

class TFileNameList;
namespace cells {
class CellTexts;
}

// A tag cell differs from what the file held.
bool rowChanged(const TFileList& record, const TRowTexts& cells);

struct TRowEncoding {
    bool ok = false;
    TRowBytes bytes;
    QString error; // when not ok: the message naming the file and the cell's text
};

// The bytes to write for a row: a cell still showing what was read gives the
// encoding and bytes read, any other cell its Shift-JIS bytes (encoding 0)
// or, when Shift-JIS cannot hold it and the row was read in the ID3v2 view,
// UTF-16 with a byte-order mark (encoding 1). It fails, before anything is
// written, on a changed track cell the view cannot hold (id3::parseTrack),
// and in the ID3v1 view on the first cell with a character Shift-JIS cannot
// hold. A track cell still showing what was read is never refused.
TRowEncoding encodeRow(const TFileList& record, const TRowTexts& cells);

struct TRowWrite {
    enum Result {
        Written,   // the file holds the row now
        NotOpened, // the file could not be opened for writing; nothing changed
        Failed,    // the writer refused or failed; the apply stops
    } result = Written;
    QString error; // Failed: the message for the error box, in Japanese
};

// Writes one row's tag through `tagIO` in `view`. When the file was
// written, the record and `cells` hold the texts as the file now holds them
// (in the ID3v1 view cut to the record's fields, the track as its number,
// the genre as its table name).
TRowWrite writeRowTag(TMP3id& tagIO, TTagView view, bool keepDate, TFileList& record, TRowTexts& cells,
                      const TRowBytes& bytes);

enum class TRename {
    Unchanged, // the cell shows the file's name
    Renamed,
    Refused,   // an unusable name, an existing target, or the move failed
};

// Renames the record's file to the name in its grid cell, inside the list's
// folder. A cell still showing the file's name keeps its bytes (names that
// are neither UTF-8 nor CP932 show altered). An unusable name or an existing
// target is refused and the record keeps its old path for the next apply.
TRename renameToCell(TFileList& record, const QString& cell, const TFileNameList& folder);

// What an apply did.
struct TApplyOutcome {
    std::int32_t writeFailures = 0;  // files that could not be opened for writing
    std::int32_t renameFailures = 0; // names that could not be given
    // The message of the refusal or writer error that stopped the apply
    // before the name pass; the rows before it are written.
    std::optional<QString> stopped;
};

// The apply: the tag pass over every loaded row, then the name pass. Record
// i is grid row i + 1 of `cells` (column 0 the name, 1 to 7 the tags); the
// tag cells of a written row get the texts as written. `afterRow` runs after
// each row of the tag pass (the window moves its progress bar and lets
// pending messages through; `files` may change meanwhile).
TApplyOutcome applyEdits(TFileListL& files, cells::CellTexts& cells, TMP3id& tagIO, TTagView view,
                         bool keepDate, const TFileNameList& folder, const std::function<void()>& afterRow);

} // namespace morvik
