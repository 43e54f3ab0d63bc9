// Throughput of the stream reader over a 100 MB file (4-byte steps and
// frame-sized steps), and the processor time the sound output spends per
// second of audio sent to ALSA's "null" device. Prints figures; asserts
// nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "compo/loopthread.h"
#include "compo/soundout.h"
#include "compo/streamreader.h"
#include "platform/posixfile.h"
#include "platform/threadpriority.h"
#include "platform/waveoutalsa.h"

using namespace morvik;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string makeFile(const std::string& path, std::int64_t megabytes)
{
    PosixFile file = PosixFile::create(path);
    std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<std::uint8_t>(i * 31);
    for (std::int64_t i = 0; i < megabytes; ++i)
        file.write(chunk.data(), chunk.size());
    return path;
}

// Scans the whole file in Need/Skip steps; returns MB/s.
double scan(const std::string& path, std::int32_t step, std::uint64_t* checksum)
{
    TMPFileStream stream(path);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    const auto start = Clock::now();
    std::uint64_t sum = 0;
    std::int64_t bytes = 0;
    while (reader.Need(step)) {
        const std::uint8_t* d = reader.Data();
        sum += d[0] + d[step - 1]; // look at the bytes as a parser would
        reader.Skip(step);
        bytes += step;
    }
    const double seconds = secondsSince(start);
    *checksum += sum;
    return static_cast<double>(bytes) / 1e6 / seconds;
}

void benchReader(const std::string& folder)
{
    const std::string path = makeFile(folder + "/morvik-bench-reader.bin", 100);
    std::uint64_t checksum = 0;
    scan(path, 417, &checksum); // warm the page cache
    for (std::int32_t step : {4, 417, 1441}) {
        double best = 0;
        for (int run = 0; run < 3; ++run)
            best = std::max(best, scan(path, step, &checksum));
        std::printf("reader: %5d-byte steps over 100 MB: %8.0f MB/s%s\n", step, best,
                    step >= 417 ? (best >= 1000 ? "  (target >= 1000 MB/s: met)" : "  (target >= 1000 MB/s: missed)")
                                : "");
    }
    std::printf("reader: checksum %llu\n", static_cast<unsigned long long>(checksum));
    std::remove(path.c_str());
}

void benchSoundOut(int audioSeconds)
{
    waveout::AlsaWaveOut alsa("null");
    TSoundOut out(alsa);
    out.NotifyInterval = 400;
    out.SetOnPosition([](TSoundOut*) {});
    out.Open();
    std::vector<std::uint8_t> pcm(4608); // one decoded frame
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::uint8_t>(i * 7);
    const std::int64_t total = std::int64_t{audioSeconds} * 44100 * 4;
    TMPSimpleEvent room;
    const double processStart = processCpuSeconds();
    const double callerStart = currentThreadCpuSeconds();
    const auto start = Clock::now();
    std::int32_t pending = 0; // bytes of the current frame still to hand over
    for (std::int64_t sent = 0; sent < total;) {
        if (pending == 0)
            pending = static_cast<std::int32_t>(pcm.size());
        const std::int32_t taken = out.Write(pcm.data() + pcm.size() - pending, pending);
        pending -= taken;
        sent += taken;
        if (pending > 0) {
            room.Reset();
            out.NotifyWhenFree(&room);
            room.WaitFor(MPInfinite);
        }
    }
    out.Flush();
    out.WaitAllDone();
    const double wall = secondsSince(start);
    const double callerCpu = currentThreadCpuSeconds() - callerStart;
    const double outputCpu = processCpuSeconds() - processStart - callerCpu;
    out.Close();
    std::printf("sound output: %d s of 44.1 kHz stereo to \"null\" in %.2f s wall\n", audioSeconds, wall);
    std::printf("sound output: output side (output thread + ALSA feeder) %.3f ms CPU per audio second = %.4f %% of "
                "one core (target < 1 %%)\n",
                outputCpu * 1000 / audioSeconds, outputCpu * 100 / audioSeconds);
    std::printf("sound output: caller (Write copies) %.3f ms CPU per audio second\n", callerCpu * 1000 / audioSeconds);
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = argc > 1 ? argv[1] : (tmp ? tmp : "/tmp");
    const int audioSeconds = argc > 2 ? std::atoi(argv[2]) : 600;
    benchReader(folder);
    benchSoundOut(audioSeconds);
    return 0;
}
