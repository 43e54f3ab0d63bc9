// morvik-cli decode IN OUT: the PCM of a whole file as raw signed 16-bit
// little-endian samples, decoded frame by frame as the player does.
#include "commands.h"

#include "compo/framestepper.h"

#include <cstdio>
#include <memory>

namespace morvik::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f && f != stdout)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

int cmdDecode(const Args& args)
{
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: morvik-cli decode IN OUT\n");
        return 2;
    }
    FilePtr in(std::fopen(args[0].c_str(), "rb"));
    if (!in) {
        std::perror(args[0].c_str());
        return 1;
    }
    auto decoder = std::make_unique<mpeg::MpegDecoder>();
    mpeg::StdioByteSource source(in.get());
    mpeg::FrameStepper stepper(source, *decoder);
    if (!stepper.open()) {
        std::fprintf(stderr, "unknown MPEG Audio format.\n");
        return 1;
    }
    FilePtr out(args[1] == "-" ? stdout : std::fopen(args[1].c_str(), "wb"));
    if (!out) {
        std::perror(args[1].c_str());
        return 1;
    }
    // A large output buffer: a frame's PCM is a few kilobytes, and a write
    // per frame would cost a system call each. Static, because the stream
    // (stdout among them) may be flushed after this function returns.
    static char outputBuffer[1 << 18];
    std::setvbuf(out.get(), outputBuffer, _IOFBF, sizeof outputBuffer);
    static std::int16_t pcm[mpeg::FrameStepper::kPcmBufferBytes / 2];
    while (const int bytes = stepper.step(pcm)) {
        if (std::fwrite(pcm, 1, static_cast<std::size_t>(bytes), out.get()) != static_cast<std::size_t>(bytes)) {
            std::perror(args[1].c_str());
            return 1;
        }
    }
    if (std::fflush(out.get()) != 0) {
        std::perror(args[1].c_str());
        return 1;
    }
    return 0;
}

} // namespace morvik::cli
