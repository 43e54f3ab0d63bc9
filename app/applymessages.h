// The texts the window shows for an apply: its status line and, in
// Japanese, why a row could not be written. Paths are shown as the grid
// shows names (UTF-8, or CP932 decoded).
#pragma once

#include "id3/mp3id.h"

#include <QString>
#include <cstdint>
#include <string>

namespace morvik {

// The system's text for an errno value, in Japanese.
QString systemErrorMessage(int err);

// "<file> に書き込めません: <why>（<system's text>）。"
QString writeErrorMessage(const TTagWriteError& error);

// A cell holds a character Shift-JIS cannot hold (ID3v1 view).
QString unwritableCharacterMessage(const std::string& path, const std::string& character);

// A typed track text the view cannot hold.
QString badTrackMessage(const std::string& path, const QString& track, TTagView view);

// Status panel 2 after an apply that ran to its end: "書込終了", with the
// count of files that could not be written or renamed when there are any.
QString applyStatusText(std::int32_t writeFailures, std::int32_t renameFailures);

} // namespace morvik
