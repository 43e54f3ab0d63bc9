// The apply of the grid's edits to the files, below the window: which rows
// changed, the bytes each field is written as, the write of one row and the
// rename rules. The window reads the cells, runs these row by row, moves its
// progress bar and shows the errors they return.
#pragma once

#include "app/filerecords.h"
#include "id3/mp3id.h"

#include <QString>
#include <optional>
#include <string>

namespace morvik {

class TFileNameList;

// A tag cell differs from what the file held.
bool rowChanged(const TFileList& record, const TRowTexts& cells);

struct TRowEncoding {
    bool ok = false;
    TRowBytes bytes;
    QString error; // when not ok: the message naming the file and the character
};

// The bytes to write for a row: a cell still showing what was read gives the
// encoding and bytes read, any other cell its Shift-JIS bytes (encoding 0)
// or, when Shift-JIS cannot hold it and the row was read in the ID3v2 view,
// UTF-16 with a byte-order mark (encoding 1). In the ID3v1 view it fails on
// the first cell with a character Shift-JIS cannot hold.
TRowEncoding encodeRow(const TFileList& record, const TRowTexts& cells);

// Writes one row's tag through `tagIO` in `view` and, when the file was
// written, makes the record hold the new texts. The error message of a
// refused or failed write, or nothing.
std::optional<QString> writeRow(TMP3id& tagIO, TTagView view, bool keepDate, TFileList& record,
                                const TRowTexts& cells, const TRowBytes& bytes);

// A name that stays in its folder: not empty, not "." or "..", no "/" or NUL.
bool usableFileName(const std::string& name);

// Renames the record's file to the name in its grid cell, inside the list's
// folder. A cell still showing the file's name keeps its bytes (names that
// are not UTF-8 show altered). An unusable name or an existing target is
// refused and the record keeps its old path for the next apply. True when
// the file was renamed.
bool renameToCell(TFileList& record, const QString& cell, const TFileNameList& folder);

} // namespace morvik
