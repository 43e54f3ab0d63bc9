// Signals that would otherwise leave debris or kill a write half-way.
#pragma once

#include <string>

namespace morvik {

// A file-size limit then makes a write fail with "File too large" instead of
// killing the process in the middle of a rewrite.
void ignoreFileSizeSignal();

// While a path is set, SIGINT, SIGTERM or SIGHUP first remove that file, then
// end the process as the signal would have. Only signals still at their
// default action are taken over, so a program's own handlers stay. One path
// at a time: the tag writer rewrites one file at a time.
void removeOnSignal(const std::string& path);
void clearRemoveOnSignal();

} // namespace morvik
