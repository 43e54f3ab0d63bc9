// The commands of morvik-cli. Each takes the arguments after its name and
// returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace morvik::cli {

using Args = std::vector<std::string>;

int cmdRead(const Args& args);
int cmdWrite(const Args& args);
int cmdDecode(const Args& args);
int cmdInfo(const Args& args);
int cmdRender(const Args& args);
int cmdPlay(const Args& args);
int cmdPattern(const Args& args);
int cmdTitleFromName(const Args& args);
int cmdSet(const Args& args);
int cmdFrames(const Args& args);

// Escapes raw bytes for one line of output: backslash, tab, line feed and
// carriage return as \\ \t \n \r, other bytes below 0x20 or from 0x7F as \xhh.
// With `utf8`, bytes from 0x80 (UTF-8 text) are printed as they are.
std::string escapeBytes(const std::string& bytes, bool utf8 = false);

} // namespace morvik::cli
