#include "compo/mpassert.h"

#include <string_view>

namespace morvik {

namespace {

std::string assertionText(const char* file, int line)
{
    std::string_view name(file);
    const auto slash = name.find_last_of('/');
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    return "Assertion failure (" + std::string(name) + ", line " + std::to_string(line) + ")";
}

} // namespace

EMPAssertionFailed::EMPAssertionFailed(const char* file, int line)
    : EMPError(assertionText(file, line))
{
}

void mpAssertionFailure(const char* file, int line) { throw EMPAssertionFailed(file, line); }

} // namespace morvik
