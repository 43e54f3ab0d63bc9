#include "app/renamerules.h"

#include "platform/posixfile.h"

#include <cerrno>

namespace morvik::names {

bool usableFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int renameInFolder(const std::string& path, const std::string& newName)
{
    if (newName == baseName(path))
        return 0;
    if (!usableFileName(newName))
        return EINVAL;
    // folderOf gives "./" for a bare name: the rename then stays in the
    // working folder, where the name was found.
    return renameNoReplace(path, folderOf(path) + newName);
}

} // namespace morvik::names
