#include "app/windowplace.h"

#include "platform/profilefile.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using morvik::TScreenArea;
using morvik::TWindowPlace;
using namespace testsupport;

namespace {

const char* const kSection = "women";

TEST(WindowPlace, KeptInTagIniAndReadBack)
{
    TempDir dir;
    morvik::TProfileFile ini(dir.file("tag.ini"));
    EXPECT_FALSE(morvik::readWindowPlace(ini, kSection)) << "no file: the design size";

    const TWindowPlace place{{-20, 40, 800, 600}, true, 250};
    ASSERT_TRUE(morvik::writeWindowPlace(ini, kSection, place));
    EXPECT_EQ(morvik::readWindowPlace(ini, kSection), place);
    EXPECT_EQ(readFile(dir.file("tag.ini")),
              "[women]\nformleft=-20\nformtop=40\nformwidth=800\nformheight=600\nformmax=1\nsplitter=250\n");

    // Only what changed is written; other keys stay where they are.
    writeFile(dir.file("tag.ini"), "[women]\ndefdir=/music\nformleft=-20\nformtop=40\nformwidth=800\n"
                                   "formheight=600\nformmax=1\nsplitter=250\n");
    ASSERT_TRUE(morvik::writeWindowPlace(ini, kSection, {{-20, 40, 810, 600}, false, 250}));
    EXPECT_EQ(readFile(dir.file("tag.ini")), "[women]\ndefdir=/music\nformleft=-20\nformtop=40\nformwidth=810\n"
                                             "formheight=600\nformmax=0\nsplitter=250\n");
}

TEST(WindowPlace, IncompleteOrUnusablePlacesAreNotUsed)
{
    TempDir dir;
    morvik::TProfileFile ini(dir.file("tag.ini"));
    const char* const cases[] = {
        "formleft=1\nformtop=1\nformwidth=800\nformheight=600\nformmax=0\n",             // no splitter
        "formleft=1\nformtop=1\nformwidth=199\nformheight=600\nformmax=0\nsplitter=1\n",  // too narrow
        "formleft=1\nformtop=1\nformwidth=800\nformheight=0\nformmax=0\nsplitter=1\n",    // no height
        "formleft=1\nformtop=1\nformwidth=800\nformheight=600\nformmax=0\nsplitter=-5\n", // panel
        "formleft=1\nformtop=1\nformwidth=x\nformheight=600\nformmax=0\nsplitter=1\n",    // garbage
    };
    for (const char* keys : cases) {
        writeFile(dir.file("tag.ini"), std::string("[women]\n") + keys);
        EXPECT_FALSE(morvik::readWindowPlace(ini, kSection)) << keys;
    }
    writeFile(dir.file("tag.ini"), "[women]\nformleft=0\nformtop=1\nformwidth=200\nformheight=150\nformmax=0\nsplitter=0\n");
    EXPECT_EQ(morvik::readWindowPlace(ini, kSection), (TWindowPlace{{0, 1, 200, 150}, false, 0}));
}

TEST(WindowPlace, FramesAreMovedOntoTheScreen)
{
    const TScreenArea screen{0, 0, 1024, 768};
    struct Case {
        const char* what;
        TScreenArea frame, fitted;
    };
    const Case cases[] = {
        {"inside stays", {100, 50, 597, 423}, {100, 50, 597, 423}},
        {"off the right", {900, 50, 597, 423}, {427, 50, 597, 423}},
        {"off the top left", {-300, -20, 597, 423}, {0, 0, 597, 423}},
        {"on a screen since removed", {3000, 2000, 597, 423}, {427, 345, 597, 423}},
        {"larger than the screen", {10, 10, 2000, 1000}, {0, 0, 1024, 768}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(morvik::fitOnScreen(c.frame, screen), c.fitted) << c.what;
    }
    const TScreenArea none{};
    EXPECT_EQ(morvik::fitOnScreen({5, 6, 7, 8}, none).left, 5) << "no screen known: left as it is";
}

} // namespace
