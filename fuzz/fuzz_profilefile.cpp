// The settings file read and rewritten from arbitrary bytes: reads must not
// fail, and a write must keep every line it does not change.
#include "platform/profilefile.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One scratch folder per process, removed at exit.
    struct Scratch {
        std::string folder;
        std::string path;
        Scratch()
        {
            char pattern[] = "/tmp/morvik-fuzz-ini-XXXXXX";
            if (::mkdtemp(pattern))
                folder = pattern;
            path = (folder.empty() ? std::string("/tmp") : folder) + "/tag.ini";
        }
        ~Scratch()
        {
            ::unlink(path.c_str());
            if (!folder.empty())
                ::rmdir(folder.c_str());
        }
    };
    static const Scratch scratch;
    const std::string& path = scratch.path;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

    morvik::TProfileFile ini(path);
    const std::string defdir = ini.ReadString("women", "defdir", "/");
    ini.ReadInteger("women", "tagv", 1);
    ini.ReadBool("WOMEN", " movemsg ", false);
    if (ini.WriteString("women", "defdir", "/fuzz/folder")) {
        if (ini.ReadString("women", "defdir", "") != "/fuzz/folder")
            std::abort();
        if (!ini.WriteString("women", "defdir", defdir.find_first_of("\r\n") == std::string::npos ? defdir : "/"))
            std::abort();
    }
    return 0;
}
