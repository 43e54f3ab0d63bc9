// The file survey on arbitrary bytes. The first byte picks the reader: bit 0
// seekable, bits 1-2 its capacity; the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compo/mp3info.h"
#include "compo/streamreader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const std::int32_t capacities[] = {65536, 16384, 1024, 128};
    const bool seekable = data[0] & 1;
    const std::int32_t capacity = capacities[(data[0] >> 1) & 3];
    morvik::TMPMemoryStream stream(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    morvik::TMPStreamReader reader(capacity);
    reader.Attach(&stream, seekable);
    morvik::TMP3Info info;
    info.SetReader(&reader);
    info.ReadLeading();
    info.ReadTrailing();
    // Whatever the bytes say, the audio starts inside the stream.
    if (info.AudioStart() < 0 || info.AudioStart() > stream.Size())
        std::abort();
    return 0;
}
