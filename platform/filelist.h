// The hidden file list of the window: the names of one folder's files that
// match "*.mp3" in any letter case, sorted by their bytes. Names are the file
// system's bytes, whether or not they are valid UTF-8.
#pragma once

#include <string>
#include <vector>

namespace morvik {

class TFileNameList {
public:
    // Points the list at a folder (no trailing "/" needed) and re-reads it.
    void SetDirectory(const std::string& folder);
    const std::string& Directory() const { return m_folder; }
    // Reads the folder again; a folder that cannot be read lists nothing.
    void Update();
    const std::vector<std::string>& Items() const { return m_names; }

    // The full path of a name of this folder ("/" joins, never doubled).
    std::string PathOf(const std::string& name) const;

private:
    std::string m_folder;
    std::vector<std::string> m_names;
};

// True for names ending in ".mp3" in any letter case.
bool matchesMp3Mask(const std::string& name);

} // namespace morvik
