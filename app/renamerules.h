// The rules every rename of a loaded file keeps: the new name stays a name
// in the file's own folder, and an existing file is never replaced.
#pragma once

#include <string>

namespace morvik::names {

// A name that stays in its folder: not empty, not "." or "..", no "/" or NUL.
bool usableFileName(const std::string& name);

// The last component of a path (the whole path when it has no "/").
std::string baseName(const std::string& path);

// Moves the file at `path` to `newName` in the same folder. 0 when done or
// when the file has that name already; EINVAL for an unusable name, EEXIST
// when a file of that name exists, or another errno of the rename.
int renameInFolder(const std::string& path, const std::string& newName);

} // namespace morvik::names
