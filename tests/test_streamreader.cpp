// The ring-buffered stream reader: contiguous views across the ring's end,
// skips on seekable and unseekable streams, 64-bit positions, and the
// assertion raised for violated preconditions.
#include "compo/streamreader.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "platform/posixfile.h"
#include "testsupport.h"

using namespace morvik;

namespace {

std::uint8_t patternByte(std::int64_t offset) { return static_cast<std::uint8_t>(offset * 7 % 251); }

std::string patternBytes(std::int64_t length)
{
    std::string s(static_cast<std::size_t>(length), '\0');
    for (std::int64_t i = 0; i < length; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>(patternByte(i));
    return s;
}

// Checks that the n bytes at Data() are the stream's bytes from Position().
void expectPatternAtHead(const TMPStreamReader& reader, std::int32_t n)
{
    const std::uint8_t* data = reader.Data();
    for (std::int32_t i = 0; i < n; ++i)
        ASSERT_EQ(data[i], patternByte(reader.Position() + i)) << "byte " << i << " at position " << reader.Position();
}

// The invariants every operation must keep.
void expectConsistent(const TMPStreamReader& reader)
{
    ASSERT_GE(reader.Count(), 0);
    ASSERT_LE(reader.Count(), reader.Capacity());
    ASSERT_GE(reader.Head(), 0);
    ASSERT_LT(reader.Head(), reader.Capacity());
    ASSERT_LE(reader.Contiguous(), reader.Count());
    ASSERT_LE(reader.Head() + reader.Contiguous(), reader.Capacity());
}

TEST(StreamReader, NeedGivesContiguousBytesAcrossTheRingEnd)
{
    struct Case {
        const char* name;
        std::int32_t capacity;
        std::int64_t streamLength;
        std::int32_t firstNeed;
        std::int64_t skip;
        std::int32_t secondNeed;
    };
    const Case cases[] = {
        // Head 40, 24 bytes buffered: the whole capacity wraps and needs the
        // temporary block.
        {"full capacity on a wrapped ring", 64, 1000, 40, 40, 64},
        {"full capacity, large ring", 40000, 200000, 30000, 25000, 40000},
        // The stream ends early: the wrapped part is small and the free gap
        // in front of Head takes both moves.
        {"small wrap moved through the gap", 64, 70, 64, 50, 20},
        {"need within the tail only", 64, 1000, 64, 10, 54},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMPMemoryStream stream(patternBytes(c.streamLength));
        TMPStreamReader reader(c.capacity);
        reader.Attach(&stream, true);
        ASSERT_TRUE(reader.Need(c.firstNeed));
        ASSERT_TRUE(reader.Skip(c.skip));
        ASSERT_TRUE(reader.Need(c.secondNeed));
        EXPECT_EQ(reader.Position(), c.skip);
        EXPECT_GE(reader.Contiguous(), c.secondNeed);
        expectPatternAtHead(reader, c.secondNeed);
        expectConsistent(reader);
    }
}

TEST(StreamReader, SkipOnSeekableStream)
{
    struct Case {
        const char* name;
        std::int32_t prefill;
        std::int64_t skip;
        bool result;
        std::int64_t position;
    };
    constexpr std::int64_t length = 100000;
    const Case cases[] = {
        {"within the buffered bytes", 100, 60, true, 60},
        {"zero bytes", 100, 0, true, 0},
        {"more than buffered lands exactly", 100, 50000, true, 50000},
        {"exactly to the end", 100, length, true, length},
        {"past the end stops at the end", 100, length + 1, false, length},
        {"nothing buffered yet", 0, 77777, true, 77777},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMPMemoryStream stream(patternBytes(length));
        TMPStreamReader reader(4096);
        reader.Attach(&stream, true);
        if (c.prefill > 0) {
            ASSERT_TRUE(reader.Need(c.prefill));
        }
        const std::int32_t countBefore = reader.Count();
        EXPECT_EQ(reader.Skip(c.skip), c.result);
        EXPECT_EQ(reader.Position(), c.position);
        if (c.skip > countBefore) {
            EXPECT_EQ(reader.Count(), 0) << "a seek empties the ring";
        }
        if (c.position < length) {
            ASSERT_TRUE(reader.Need(1));
            expectPatternAtHead(reader, 1);
        }
        expectConsistent(reader);
    }
}

TEST(StreamReader, SkipOnUnseekableStreamPassesExactlyN)
{
    struct Case {
        std::int64_t skip;
        bool result;
    };
    constexpr std::int64_t length = 5000;
    const Case cases[] = {{0, true}, {63, true}, {64, true}, {65, true}, {1000, true}, {4999, true},
                          {5000, true}, {5001, false}, {1 << 20, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.skip);
        TMPMemoryStream stream(patternBytes(length));
        TMPStreamReader reader(64);
        reader.Attach(&stream, false);
        ASSERT_TRUE(reader.Need(3));
        EXPECT_EQ(reader.Skip(c.skip), c.result);
        if (c.result) {
            EXPECT_EQ(reader.Position(), c.skip);
            if (c.skip < length) {
                ASSERT_TRUE(reader.Need(1));
                expectPatternAtHead(reader, 1);
            } else {
                EXPECT_FALSE(reader.Need(1));
            }
        }
        expectConsistent(reader);
    }
}

TEST(StreamReader, RandomWalkKeepsBytesInOrder)
{
    for (bool seekable : {true, false}) {
        for (std::int32_t capacity : {1000, 65536}) {
            SCOPED_TRACE(testing::Message() << "seekable " << seekable << ", capacity " << capacity);
            const std::int64_t length = 30 * std::int64_t{capacity} + 12345;
            TMPMemoryStream stream(patternBytes(length));
            TMPStreamReader reader(capacity);
            reader.Attach(&stream, seekable);
            std::mt19937 random(12345);
            while (reader.Position() < length - capacity) {
                const auto need = static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(capacity) + 1);
                ASSERT_TRUE(reader.Need(need));
                expectPatternAtHead(reader, need);
                expectConsistent(reader);
                const std::int64_t skip = random() % 3 == 0 ? random() % (3 * capacity) : random() % (need + 1);
                const bool fits = reader.Position() + skip <= length;
                ASSERT_EQ(reader.Skip(skip), fits);
                expectConsistent(reader);
                if (reader.Count() > 0) {
                    ASSERT_GT(reader.Contiguous(), 0);
                    expectPatternAtHead(reader, reader.Contiguous());
                }
            }
        }
    }
}

TEST(StreamReader, FillMoreReadsUntilTheRingIsFull)
{
    TMPMemoryStream stream(patternBytes(100000));
    TMPStreamReader reader(40000);
    reader.Attach(&stream, true);
    EXPECT_TRUE(reader.FillMore());
    EXPECT_EQ(reader.Count(), 16384);
    EXPECT_TRUE(reader.FillMore());
    EXPECT_TRUE(reader.FillMore());
    EXPECT_EQ(reader.Count(), 40000);
    EXPECT_FALSE(reader.FillMore()) << "a full ring reads nothing";

    TMPMemoryStream shortStream(patternBytes(100));
    reader.Attach(&shortStream, true);
    EXPECT_FALSE(reader.FillMore()) << "the stream ends before the chunk";
    EXPECT_EQ(reader.Count(), 100);
}

TEST(StreamReader, AttachCountsPositionFromWhereTheStreamStands)
{
    TMPMemoryStream stream(patternBytes(1000));
    stream.Seek(300, soFromBeginning);
    TMPStreamReader reader(256);
    reader.Attach(&stream, true);
    EXPECT_EQ(reader.Position(), 0);
    EXPECT_EQ(reader.Size(), 1000);
    ASSERT_TRUE(reader.Need(1));
    EXPECT_EQ(reader.Data()[0], patternByte(300));

    reader.Detach();
    EXPECT_FALSE(reader.Attached());
    EXPECT_EQ(reader.Size(), 0);
    EXPECT_EQ(reader.Stream(), nullptr);
}

TEST(StreamReader, SeekOriginsEmptyTheRing)
{
    struct Case {
        std::int64_t offset;
        TMPSeekOrigin origin;
        std::int64_t expected;
    };
    const Case cases[] = {{500, soFromBeginning, 500}, {10, soFromCurrent, 110}, {-100, soFromEnd, 900}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        TMPMemoryStream stream(patternBytes(1000));
        TMPStreamReader reader(256);
        reader.Attach(&stream, true);
        ASSERT_TRUE(reader.Need(200));
        ASSERT_TRUE(reader.Skip(100));
        EXPECT_EQ(reader.Seek(c.offset, c.origin), c.expected);
        EXPECT_EQ(reader.Count(), 0);
        EXPECT_EQ(reader.Contiguous(), 0);
        ASSERT_TRUE(reader.Need(4));
        expectPatternAtHead(reader, 4);
    }
}

TEST(StreamReader, ViolatedPreconditionsRaiseTheAssertion)
{
    TMPMemoryStream stream(patternBytes(100));
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"capacity 0", [] { TMPStreamReader r(0); }},
        {"need beyond the capacity", [&] { TMPStreamReader r(64); r.Attach(&stream, true); r.Need(65); }},
        {"negative fill", [&] { TMPStreamReader r(64); r.Attach(&stream, true); r.Fill(-1); }},
        {"negative skip", [&] { TMPStreamReader r(64); r.Attach(&stream, true); r.Skip(-1); }},
        {"seek without seeking", [&] { TMPStreamReader r(64); r.Attach(&stream, false); r.Seek(0, soFromBeginning); }},
        {"need while detached", [] { TMPStreamReader r(64); r.Need(1); }},
        {"attach nothing", [] { TMPStreamReader r(64); r.Attach(nullptr, true); }},
    };
    for (const auto& [name, action] : cases) {
        SCOPED_TRACE(name);
        try {
            action();
            ADD_FAILURE() << "no assertion";
        } catch (const EMPAssertionFailed& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("Assertion failure", 0), 0u) << text;
            EXPECT_NE(text.find("streamreader.cpp, line "), std::string::npos) << text;
        }
    }
}

TEST(StreamReader, FilesLargerThan2GiB)
{
    testsupport::TempDir dir;
    const std::string path = dir.file("big.bin");
    constexpr std::int64_t marker = (std::int64_t{5} << 29) + 3; // 2.5 GiB + 3
    constexpr std::int64_t length = std::int64_t{3} << 30;
    {
        auto file = PosixFile::create(path);
        ASSERT_TRUE(file.valid());
        ASSERT_TRUE(file.writeAt(marker, "MARK", 4));
        ASSERT_TRUE(file.writeAt(length - 1, "E", 1)); // the rest stays a hole
    }
    TMPFileStream stream(path);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    EXPECT_EQ(reader.Size(), length);
    ASSERT_TRUE(reader.Need(16));
    ASSERT_TRUE(reader.Skip(marker));
    EXPECT_EQ(reader.Position(), marker);
    ASSERT_TRUE(reader.Need(4));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.Data()), 4), "MARK");
    EXPECT_EQ(reader.Seek(-1, soFromEnd), length - 1);
    ASSERT_TRUE(reader.Need(1));
    EXPECT_EQ(reader.Data()[0], 'E');
    EXPECT_FALSE(reader.Skip(2));
    EXPECT_EQ(reader.Position(), length);
}

TEST(StreamReader, FileStreamReportsAMissingFile)
{
    testsupport::TempDir dir;
    try {
        TMPFileStream stream(dir.file("missing.mp3"));
        ADD_FAILURE() << "opened a missing file";
    } catch (const EMPStreamError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.mp3"), std::string::npos) << e.what();
    }
}

} // namespace
