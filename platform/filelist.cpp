#include "platform/filelist.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace morvik {
namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

// Regular files, and links to them; folders and devices are not listed.
bool isListedFile(DIR* dir, const dirent* entry)
{
    if (entry->d_type == DT_REG)
        return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return false;
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0)
        return entry->d_type == DT_LNK ? false : true;
    return S_ISREG(st.st_mode);
}

} // namespace

bool matchesMp3Mask(const std::string& name)
{
    if (name.size() < 4)
        return false;
    const std::string ext = name.substr(name.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'm' && (ext[2] | 0x20) == 'p' && ext[3] == '3';
}

void TFileNameList::SetDirectory(const std::string& folder)
{
    m_folder = folder;
    Update();
}

void TFileNameList::Update()
{
    m_names.clear();
    if (m_folder.empty())
        return;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(m_folder.c_str()));
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (matchesMp3Mask(name) && isListedFile(dir.get(), entry))
            m_names.push_back(name);
    }
    std::sort(m_names.begin(), m_names.end());
}

std::string TFileNameList::PathOf(const std::string& name) const
{
    if (!m_folder.empty() && m_folder.back() == '/')
        return m_folder + name;
    return m_folder + "/" + name;
}

} // namespace morvik
