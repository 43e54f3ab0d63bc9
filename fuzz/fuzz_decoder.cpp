// The MPEG audio decoder (Layers I, II and III) on arbitrary bytes: headers through the header
// functions, then a stream set up from one valid first frame and fed the
// input as frames of arbitrary lengths (decoded twice, by the reference
// routines and with the plain extended-precision windowing, which must agree
// bit for bit), then the input as a whole stream through the frame stepper
// under a routine table the input picks, and once more after a rewind.
#include "compo/framestepper.h"
#include "compo/mpeg/decoder.h"
#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/mpegheader.h"
#include "compo/mpeg/synthesis.h"
#include "compo/stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace morvik::mpeg;

namespace {

// Valid first headers covering every version, mode and sampling rate.
constexpr std::uint8_t kFirstHeaders[][4] = {
    {0xFF, 0xFB, 0x90, 0x64}, {0xFF, 0xFB, 0x94, 0xC4}, {0xFF, 0xFA, 0x98, 0x04}, {0xFF, 0xFB, 0x00, 0x44},
    {0xFF, 0xF3, 0x80, 0xC4}, {0xFF, 0xF3, 0x84, 0x44}, {0xFF, 0xF2, 0x88, 0x04}, {0xFF, 0xE3, 0x80, 0x64},
    {0xFF, 0xE3, 0x88, 0xC4}, {0xFF, 0xE2, 0x84, 0x14},
    // Layer II (tables B.2a, B.2c, B.2d, lower sampling frequencies) and Layer I.
    {0xFF, 0xFD, 0xA4, 0x44}, {0xFF, 0xFD, 0x44, 0x04}, {0xFF, 0xFD, 0x48, 0x84}, {0xFF, 0xF5, 0x84, 0x04},
    {0xFF, 0xFC, 0x00, 0x24}, {0xFF, 0xFF, 0x18, 0xC4}, {0xFF, 0xFF, 0xE4, 0x64}, {0xFF, 0xF7, 0x80, 0x04},
};

void headers(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return;
    MpegFrameHeader h;
    std::int32_t rate = 0, skipped = 0;
    const auto length = static_cast<std::int32_t>(size);
    ParseHeaderAndBitRate(data, length, h, rate);
    FindFreeFormatLength(data, length);
    FindFrameSync(data, length, h, rate, skipped);
    HeadersMatch(headerWord(data), headerWord(data + size - 4));
}

DecoderDispatch plainWindowing()
{
    DecoderDispatch table = referenceDispatch();
    table.WindowToPcmMono = WindowToPcmMonoPlain;
    table.WindowToPcmStereo = WindowToPcmStereoPlain;
    return table;
}

// Feature words of every variant family.
constexpr std::uint32_t kFeatureWords[] = {0x400201, 0x400101, 0x40015B, 0x400207, 0x40027F};

void framesAfterValidSetUp(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return;
    const std::uint8_t* header = kFirstHeaders[data[0] % std::size(kFirstHeaders)];
    const std::uint8_t flags = data[1] & 3;
    MpegFrameHeader h;
    ParseFrameHeader(header, 4, h);
    const std::int32_t hint = 24 + data[2] * 8;  // stands in for free format
    auto decoder = std::make_unique<MpegDecoder>();
    auto plain = std::make_unique<MpegDecoder>();
    if (!decoder->SetupStream(h, hint, 0, 0, flags) || !plain->SetupStream(h, hint, 0, 0, flags))
        return;
    static std::int16_t pcm[kMaxPcmBytesPerFrame / 2];
    static std::int16_t plainPcm[kMaxPcmBytesPerFrame / 2];
    const DecoderDispatch plainTable = plainWindowing();
    std::size_t p = 3;
    while (p + 2 <= size) {
        // Two bytes give the length of the next chunk handed over as a frame.
        const std::size_t chunk = std::min<std::size_t>((data[p] << 8 | data[p + 1]) % 2048, size - p - 2);
        p += 2;
        std::vector<std::uint8_t> frame(data + p, data + p + chunk);  // exact size: overreads are caught
        if (frame.size() >= 2) {
            frame[0] = 0xFF;  // most chunks should pass the sync test
            frame[1] = static_cast<std::uint8_t>((frame[1] & 0x0F) | (header[1] & 0xF0));
        }
        SelectReferenceVariants();
        const FrameDecodeResult r =
            decoder->DecodeFrame(frame.data(), static_cast<std::int32_t>(frame.size()), pcm);
        if (r.frameBytes > static_cast<std::int32_t>(frame.size()) || r.pcmBytes > kMaxPcmBytesPerFrame)
            __builtin_trap();
        InstallDecoderDispatch(plainTable);
        const FrameDecodeResult q =
            plain->DecodeFrame(frame.data(), static_cast<std::int32_t>(frame.size()), plainPcm);
        if (q.frameBytes != r.frameBytes || q.pcmBytes != r.pcmBytes ||
            std::memcmp(pcm, plainPcm, static_cast<std::size_t>(std::max(r.pcmBytes, 0))) != 0)
            __builtin_trap();
        p += chunk;
    }
}

void wholeStream(const std::uint8_t* data, std::size_t size)
{
    SelectDecoderVariants(size ? kFeatureWords[data[size - 1] % std::size(kFeatureWords)] : 0);
    auto decoder = std::make_unique<MpegDecoder>();
    morvik::TMPMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    morvik::FrameStepper stepper(*decoder);
    const bool seekable = size % 2 == 0;  // odd sizes read the stream as a pipe would
    if (!stepper.open(stream, seekable))
        return;
    static std::int16_t pcm[morvik::FrameStepper::PcmBufferBytes / 2];
    for (int frames = 0; frames < 100000 && stepper.nextFrame(pcm) > 0; ++frames) {
    }
    if (!seekable)
        return;
    // Again from the first frame, with the decoder set up anew.
    stepper.rewind();
    for (int frames = 0; frames < 8 && stepper.nextFrame(pcm) > 0; ++frames) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    headers(data, size);
    framesAfterValidSetUp(data, size);
    wholeStream(data, size);
    SelectReferenceVariants();
    return 0;
}
