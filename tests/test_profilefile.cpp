#include "platform/profilefile.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using morvik::TProfileFile;
using namespace testsupport;

namespace {

const std::string kSample = "; settings\n"
                            "garbage line without equals\n"
                            "[Other]\n"
                            "defdir=/elsewhere\n"
                            "\n"
                            "[ WOMEN ]\n"
                            "  DefDir =  /music/jazz  \n"
                            "datechg=1\n"
                            "sellauto=0\n"
                            "tagv=5\n"
                            "movemsg=-3\n"
                            "tokusyu= +2x\n"
                            "tokusyu_str=abc\n"
                            "=no key\n"
                            "defdir=/second/one\n"
                            "\n"
                            "[tail]\n"
                            "x=1\n";

TEST(ProfileFile, ReadsValuesWithLooseNamesAndWindowsNumbers)
{
    TempDir dir;
    writeFile(dir.file("tag.ini"), kSample);
    const TProfileFile ini(dir.file("tag.ini"));

    struct StringCase {
        const char* section;
        const char* key;
        const char* expected;
    };
    const StringCase strings[] = {
        {"women", "defdir", "/music/jazz"},   // first of two, blanks trimmed, case ignored
        {" Women ", " DEFDIR ", "/music/jazz"},
        {"other", "defdir", "/elsewhere"},
        {"women", "tokusyu_str", "abc"},
        {"women", "missing", "fallback"},
        {"nosection", "defdir", "fallback"},
        {"tail", "defdir", "fallback"},        // keys of a later section do not leak
    };
    for (const StringCase& c : strings)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "fallback"), c.expected) << c.section << "/" << c.key;

    struct IntCase {
        const char* key;
        std::int32_t expected;
    };
    const IntCase integers[] = {
        {"tagv", 5}, {"movemsg", -3}, {"tokusyu", 2}, {"tokusyu_str", 0}, {"datechg", 1}, {"absent", 77},
    };
    for (const IntCase& c : integers)
        EXPECT_EQ(ini.ReadInteger("women", c.key, 77), c.expected) << c.key;

    EXPECT_TRUE(ini.ReadBool("women", "datechg", false));
    EXPECT_FALSE(ini.ReadBool("women", "sellauto", true));
    EXPECT_TRUE(ini.ReadBool("women", "movemsg", false));  // any non-zero integer
    EXPECT_FALSE(ini.ReadBool("women", "tokusyu_str", true)); // no digits reads as 0
    EXPECT_TRUE(ini.ReadBool("women", "absent", true));
}

TEST(ProfileFile, MissingFileGivesDefaultsAndFirstWriteCreatesIt)
{
    TempDir dir;
    TProfileFile ini(dir.file("sub/folder/tag.ini"));
    EXPECT_EQ(ini.ReadInteger("women", "tagv", 1), 1);
    EXPECT_EQ(ini.ReadString("women", "defdir", "/x"), "/x");
    EXPECT_FALSE(fileExists(dir.file("sub/folder/tag.ini")));

    ASSERT_TRUE(ini.WriteBool("women", "datechg", true));
    EXPECT_EQ(readFile(dir.file("sub/folder/tag.ini")), "[women]\ndatechg=1\n");
    ASSERT_TRUE(ini.WriteInteger("women", "tagv", 2));
    EXPECT_EQ(readFile(dir.file("sub/folder/tag.ini")), "[women]\ndatechg=1\ntagv=2\n");
}

TEST(ProfileFile, WritesReplaceOneLineAndKeepEveryOtherLine)
{
    TempDir dir;
    const std::string path = dir.file("tag.ini");
    writeFile(path, kSample);
    TProfileFile ini(path);

    ASSERT_TRUE(ini.WriteString("women", "DEFDIR", "/new/日本語"));
    std::string expected = kSample;
    expected.replace(expected.find("  DefDir =  /music/jazz  "), 25, "DEFDIR=/new/日本語");
    EXPECT_EQ(readFile(path), expected);
    EXPECT_EQ(ini.ReadString("women", "defdir", ""), "/new/日本語");

    // A new key goes after the section's last entry, before its blank line.
    ASSERT_TRUE(ini.WriteBool("Women", "newkey", false));
    expected.replace(expected.find("defdir=/second/one\n") + 19, 0, "newkey=0\n");
    EXPECT_EQ(readFile(path), expected);

    // No temporary file is left beside it.
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"tag.ini"});
}

TEST(ProfileFile, ReadsCrLfFilesAndRefusesLineBreaksInValues)
{
    TempDir dir;
    const std::string path = dir.file("tag.ini");
    writeFile(path, "[women]\r\ntagv=2\r\ndefdir=/a b\r\n");
    TProfileFile ini(path);
    EXPECT_EQ(ini.ReadInteger("women", "tagv", 1), 2);
    EXPECT_EQ(ini.ReadString("women", "defdir", ""), "/a b");

    EXPECT_FALSE(ini.WriteString("women", "defdir", "/a\n[evil]"));
    EXPECT_EQ(ini.ReadString("women", "defdir", ""), "/a b");
}

TEST(ProfileFile, SettingsPathIsBesideAWritableExecutableElseInXdgConfig)
{
    TempDir dir;
    EXPECT_EQ(morvik::settingsFilePath(dir.path()), dir.path() + "/tag.ini");
    EXPECT_EQ(morvik::settingsFilePath(dir.path() + "/"), dir.path() + "/tag.ini");

    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    EXPECT_EQ(morvik::settingsFilePath(dir.file("no/such/folder")), dir.file("config/morvik/tag.ini"));
    if (oldXdg)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
