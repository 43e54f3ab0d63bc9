#include "id3/mp3id.h"

namespace morvik {
namespace {

constexpr std::array<std::string_view, 256> makeGenreTable()
{
    constexpr std::string_view usual[] = {
        "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop",
        "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap",
        "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks",
        "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance",
        "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise",
        "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
        "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic",
        "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
        "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
        "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz",
        "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock",
        "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
        "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
        "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
        "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
        "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
        "Folklore", "Ballad", "Power Ballad", "Rhysmic Soul", "Freestyle", "Duet", "Punk Rock",
        "Drum Solo", "Acapella", "Euro-House", "Dance-Hall", "Goa", "Drum & Bass", "Hardcore",
        "Club-House", "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat",
        "Christian Gangsta Rap", "Heavy Metal", "Blank Metal", "Crossover",
        "Contemporrary Christian", "Christian Rock", "Merengue", "Salsa", "Trash Metal", "Anime",
        "JPop", "Synthpop",
    };
    constexpr std::string_view own[] = {
        "Heavy Rock(J)", "Doom Rock(J)", "J-POP(J)", "Seiyu(J)",
        "Tecno Ambient(J)", "Moemoe(J)", "Tokusatsu(J)", "Anime(J)",
    };
    static_assert(std::size(usual) == 148 && std::size(own) == 8);

    std::array<std::string_view, 256> table{};
    for (std::size_t i = 0; i < std::size(usual); ++i)
        table[i] = usual[i];
    for (std::size_t i = 0; i < std::size(own); ++i)
        table[248 + i] = own[i];
    return table;
}

constexpr auto kGenreTable = makeGenreTable();

} // namespace

const std::array<std::string_view, 256>& GenreTable() { return kGenreTable; }

int GenreIndex(std::string_view name)
{
    for (std::size_t i = 0; i < kGenreTable.size(); ++i)
        if (kGenreTable[i] == name)
            return static_cast<int>(i);
    return -1;
}

} // namespace morvik
