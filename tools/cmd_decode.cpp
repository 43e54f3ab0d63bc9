// morvik-cli decode [--cpu C] [--cpu-features WORD] IN OUT: the PCM of a whole file as raw signed 16-bit
// little-endian samples, opened and decoded frame by frame by the player's
// frame stepper.
#include "commands.h"
#include "cpuoption.h"

#include "compo/framestepper.h"
#include "compo/stream.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

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

// perror's form ("IN: No such file or directory") for a stream failure.
void reportStreamError(const std::string& path, const EMPStreamError& e)
{
    if (e.SystemError() == 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
        return;
    }
    errno = e.SystemError();
    std::perror(path.c_str());
}

// A pipe or a terminal is read as it comes: the leading survey only.
bool canSeek(TMPStream& stream)
{
    try {
        stream.Seek(0, soFromBeginning);
        return true;
    } catch (const EMPStreamError&) {
        return false;
    }
}

int writePcm(FrameStepper& stepper, const std::string& path)
{
    FilePtr out(path == "-" ? stdout : std::fopen(path.c_str(), "wb"));
    if (!out) {
        std::perror(path.c_str());
        return 1;
    }
    // A large output buffer: a frame's PCM is a few kilobytes, and a write
    // per frame would cost a system call each. Static, because the stream
    // (stdout among them) may be flushed after this function returns.
    static char outputBuffer[1 << 18];
    std::setvbuf(out.get(), outputBuffer, _IOFBF, sizeof outputBuffer);
    static std::int16_t pcm[FrameStepper::PcmBufferBytes / 2];
    while (const int bytes = stepper.nextFrame(pcm)) {
        if (std::fwrite(pcm, 1, static_cast<std::size_t>(bytes), out.get()) != static_cast<std::size_t>(bytes)) {
            std::perror(path.c_str());
            return 1;
        }
    }
    if (std::fflush(out.get()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int cmdDecode(const Args& given)
{
    Args args = given;
    CpuChoice cpu;
    if (!takeCpuOptions(args, cpu))
        return 2;
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: morvik-cli decode %s IN OUT\n", kCpuUsage);
        return 2;
    }
    selectDecoderRoutines(cpu);
    try {
        TMPFileStream in(args[0]);
        auto decoder = std::make_unique<mpeg::MpegDecoder>();
        FrameStepper stepper(*decoder);
        if (!stepper.open(in, canSeek(in))) {
            std::fprintf(stderr, "unknown MPEG Audio format.\n");
            return 1;
        }
        return writePcm(stepper, args[1]);
    } catch (const EMPStreamError& e) {
        reportStreamError(args[0], e);
        return 1;
    }
}

} // namespace morvik::cli
