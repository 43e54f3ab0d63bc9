// The survey of a file before decoding: finds where the MPEG audio starts and
// how long it is by recognising what may wrap it (MacBinary, RIFF/WAVE) and
// the tags around it (ID3v2 before; ID3v1 and Lyrics3 after), and collects
// their texts as name=value lists. MPEG frames themselves are not examined.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

namespace morvik {

class TMPStreamReader;

enum TMP3InfoKind : std::uint8_t { mitID3V1 = 0, mitID3V2 = 1, mitRiff = 2, mitMacBin = 3, mitLyrics = 4 };

// A set of TMP3InfoKind: bit k stands for kind k.
class TMP3InfoType {
public:
    constexpr TMP3InfoType() = default;
    constexpr TMP3InfoType(std::initializer_list<TMP3InfoKind> kinds)
    {
        for (auto k : kinds)
            m_bits = static_cast<std::uint8_t>(m_bits | (1u << k));
    }
    constexpr bool Has(TMP3InfoKind k) const { return (m_bits >> k) & 1u; }
    constexpr void Include(TMP3InfoKind k) { m_bits = static_cast<std::uint8_t>(m_bits | (1u << k)); }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr std::uint8_t Bits() const { return m_bits; }
    constexpr bool operator==(const TMP3InfoType&) const = default;

private:
    std::uint8_t m_bits = 0;
};

using TMPStringList = std::vector<std::string>;

class TMP3Info {
public:
    // AudioLength when the end of the audio is not known.
    static constexpr std::int64_t UnknownLength = std::numeric_limits<std::int64_t>::max();

    TMP3Info();

    // A non-null reader resets the survey first.
    void SetReader(TMPStreamReader* reader);
    void Reset();

    // Run with the reader at the start of the stream: MacBinary, RIFF, ID3v2.
    // True when at least one byte of audio follows.
    bool ReadLeading();
    // Seekable readers only: RIFF LIST/INFO, ID3v1, Lyrics3.
    bool ReadTrailing();

    TMPStreamReader* Reader() const { return m_reader; }
    TMP3InfoType InfoTypes() const { return m_infoTypes; }
    std::int64_t AudioStart() const { return m_audioStart; }
    std::int64_t AudioLength() const { return m_audioLength; }
    std::int64_t MacDataStart() const { return m_macDataStart; }
    std::int64_t MacDataLength() const { return m_macDataLength; }
    std::int64_t MacDataEnd() const { return m_macDataEnd; }
    std::int64_t MacResourceLength() const { return m_macResourceLength; }
    std::int64_t RiffDataStart() const { return m_riffDataStart; }
    std::int64_t RiffDataSize() const { return m_riffDataSize; }
    std::int64_t Id3v1Position() const { return m_id3v1Position; }
    std::int64_t LyricsPosition() const { return m_lyricsPosition; }
    const TMPStringList& RiffInfoList() const { return m_riffInfoList; }
    const TMPStringList& Id3v1List() const { return m_id3v1List; }
    const TMPStringList& Id3v2List() const { return m_id3v2List; }
    const TMPStringList& LyricsList() const { return m_lyricsList; }

    // Stored for the player's property of that name; the survey looks for
    // every kind regardless.
    TMP3InfoType NeedInfoType = {mitID3V1, mitID3V2, mitRiff};

private:
    bool readMacBinary();
    bool readRiff();
    bool readId3v2();
    bool readId3v2Frames(std::int64_t tagEnd);
    void addId3v2Frame(std::int32_t bodySize);
    bool findChunk(const char* id, const char* formType, std::int32_t* size);
    void readRiffInfo();
    bool readId3v1();
    bool readLyrics();
    bool readLyrics1(std::int64_t end);
    bool readLyrics2(std::int64_t end);
    bool needBytes(std::int64_t n);
    bool readRange(std::int64_t from, std::int64_t length, std::string* out);

    TMPStreamReader* m_reader = nullptr;
    TMP3InfoType m_infoTypes;
    std::int64_t m_audioStart = 0;
    std::int64_t m_audioLength = UnknownLength;
    std::int64_t m_macDataStart = 0;
    std::int64_t m_macDataLength = 0;
    std::int64_t m_macDataEnd = 0;
    std::int64_t m_macResourceLength = 0;
    std::int64_t m_riffDataStart = 0;
    std::int64_t m_riffDataSize = UnknownLength;
    std::int64_t m_id3v1Position = 0;
    std::int64_t m_lyricsPosition = 0;
    TMPStringList m_riffInfoList;
    TMPStringList m_id3v1List;
    TMPStringList m_id3v2List;
    TMPStringList m_lyricsList;
};

} // namespace morvik
