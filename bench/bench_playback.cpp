// The editor window's player on ALSA's "null" device, offscreen: the
// processor time of the whole process per second of audio played from a
// 320 kbit/s file, both as fast as "null" takes it (with FFmpeg's decode of
// the same file beside it) and at the pace of a real device (each block
// reported done when its sound would have been heard); and the time from
// Play to the first block reaching ALSA. Prints figures only.
// Usage: bench_playback [SECONDS [RUNS [PACED_SECONDS]]] (defaults 120, 30, 10).
#include "app/Unit1.h"
#include "compo/mp3plyr.h"
#include "platform/waveoutalsa.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

using namespace morvik::waveout;

// Passes everything to another wave output but reports each block done only
// when the sound before it and its own would have played in real time, as a
// sound card does. A reset returns the waiting blocks at once.
class PacedWaveOut final : public WaveOut {
public:
    explicit PacedWaveOut(WaveOut& inner) : m_inner(inner), m_thread([this] { run(); }) {}
    ~PacedWaveOut() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    std::uint32_t getNumDevs() override { return m_inner.getNumDevs(); }
    MMRESULT open(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done) override
    {
        if (!done)
            return m_inner.open(device, deviceId, format, done);
        {
            std::lock_guard lock(m_mutex);
            m_done = std::move(done);
            m_bytesPerSecond = format.nAvgBytesPerSec;
            m_due = Clock::now();
        }
        return m_inner.open(device, deviceId, format, [this](WAVEHDR* header) { schedule(header); });
    }
    MMRESULT prepareHeader(HWAVEOUT d, WAVEHDR* h) override { return m_inner.prepareHeader(d, h); }
    MMRESULT unprepareHeader(HWAVEOUT d, WAVEHDR* h) override { return m_inner.unprepareHeader(d, h); }
    MMRESULT write(HWAVEOUT d, WAVEHDR* h) override { return m_inner.write(d, h); }
    MMRESULT pause(HWAVEOUT d) override { return m_inner.pause(d); }
    MMRESULT restart(HWAVEOUT d) override { return m_inner.restart(d); }
    MMRESULT reset(HWAVEOUT d) override
    {
        const MMRESULT result = m_inner.reset(d);
        std::lock_guard delivery(m_deliveryMutex);
        for (WAVEHDR* header = take(true); header; header = take(true))
            m_done(header);
        return result;
    }
    MMRESULT close(HWAVEOUT d) override { return m_inner.close(d); }
    MMRESULT setVolume(HWAVEOUT d, std::uint32_t v) override { return m_inner.setVolume(d, v); }
    MMRESULT getVolume(HWAVEOUT d, std::uint32_t* v) override { return m_inner.getVolume(d, v); }
    void setSampleTap(SampleTap tap) override { m_inner.setSampleTap(std::move(tap)); }

private:
    void schedule(WAVEHDR* header)
    {
        {
            std::lock_guard lock(m_mutex);
            const auto length = std::chrono::duration<double>(header->dwBufferLength / double(m_bytesPerSecond));
            m_due = std::max(m_due, Clock::now()) + std::chrono::duration_cast<Clock::duration>(length);
            m_waiting.push_back({header, m_due});
        }
        m_wake.notify_all();
    }

    // The oldest waiting block when it is due (or at once with `now`).
    WAVEHDR* take(bool now)
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting.empty() || (!now && m_waiting.front().second > Clock::now()))
            return nullptr;
        WAVEHDR* header = m_waiting.front().first;
        m_waiting.pop_front();
        return header;
    }

    void run()
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_quit)
                    return;
                if (m_waiting.empty())
                    m_wake.wait(lock);
                else
                    m_wake.wait_until(lock, m_waiting.front().second);
            }
            std::lock_guard delivery(m_deliveryMutex);
            while (WAVEHDR* header = take(false))
                m_done(header);
        }
    }

    WaveOut& m_inner;
    std::mutex m_deliveryMutex; // keeps completions in order
    std::mutex m_mutex;         // everything below
    std::condition_variable m_wake;
    WaveOutDoneCallback m_done;
    std::uint32_t m_bytesPerSecond = 176400;
    Clock::time_point m_due;
    std::deque<std::pair<WAVEHDR*, Clock::time_point>> m_waiting;
    bool m_quit = false;
    std::thread m_thread;
};

// The whole process's processor time while the window plays its first row
// to the end; returns (wall seconds, CPU seconds).
std::pair<double, double> playToEnd(TForm1& form)
{
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    form.sg->SetCurrentCell(0, 1);
    form.ToolButton5Click();
    // The application's own event loop, which sleeps between events; a
    // timer looks for the end of play.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (form.MP3->Status() == morvik::mpsStopped)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    return {msSince(start) / 1000, cpuSeconds(RUSAGE_SELF) - cpuBefore};
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const int pacedSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("morvik-bench-playback-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "app");
    std::filesystem::create_directories(root / "music");
    std::filesystem::create_directories(root / "paced");
    const std::string song = (root / "music" / "song.mp3").string();
    const std::string pacedSong = (root / "paced" / "song.mp3").string();
    const auto encode = [](int length, const std::string& path) {
        return shell("ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=" + std::to_string(length) +
                     " -ar 44100 -ac 2 -f wav - | lame --quiet -b 320 - '" + path + "'");
    };
    if (!encode(seconds, song) || !encode(pacedSeconds, pacedSong)) {
        std::fprintf(stderr, "could not make the test files with ffmpeg and lame\n");
        return 1;
    }
    const auto writeIni = [&](const char* folder) {
        std::ofstream((root / "app" / "tag.ini").string()) << "[women]\ndefdir=" << (root / folder).string() << "\n";
    };
    writeIni("music");

    morvik::waveout::AlsaWaveOut wave("null");
    std::atomic<bool> reached{false};
    wave.setSampleTap([&](const std::uint8_t*, std::size_t) { reached = true; });
    {
        TForm1 form(QString::fromStdString((root / "app").string()), nullptr, &wave);
        form.show();
        QApplication::processEvents();

        const auto [wall, cpu] = playToEnd(form);

        const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
        shell("ffmpeg -nostdin -loglevel error -i '" + song + "' -f null -");
        const double ffmpegCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;
        std::printf("whole file (%d s, 320 kbit/s) on \"null\": %.3f s wall, %.3f s CPU = %.3f %% of one core per "
                    "second of audio (target < 2 %%); FFmpeg decode of the same file: %.3f s CPU (ratio %.2f)\n",
                    seconds, wall, cpu, cpu / seconds * 100, ffmpegCpu, ffmpegCpu > 0 ? cpu / ffmpegCpu : 0.0);

        // Play to the first block at ALSA, the file already loaded.
        std::vector<double> latencies;
        for (int i = 0; i < runs; ++i) {
            form.ToolButton8Click();
            QApplication::processEvents();
            reached = false;
            const auto t0 = Clock::now();
            form.ToolButton5Click();
            while (!reached && msSince(t0) < 5000)
                QApplication::processEvents(QEventLoop::AllEvents, 1);
            latencies.push_back(msSince(t0));
        }
        form.ToolButton8Click();
        form.sg->SetCurrentCell(0, 1);
        std::sort(latencies.begin(), latencies.end());
        std::printf("Play to the first block at ALSA over %d runs: median %.2f ms, min %.2f ms, max %.2f ms "
                    "(target < 50 ms)\n",
                    runs, latencies[latencies.size() / 2], latencies.front(), latencies.back());
    }
    {
        writeIni("paced");
        PacedWaveOut paced(wave);
        TForm1 form(QString::fromStdString((root / "app").string()), nullptr, &paced);
        form.show();
        QApplication::processEvents();
        const auto [wall, cpu] = playToEnd(form);
        std::printf("paced as a sound card (%d s file): %.2f s wall, %.3f s CPU = %.3f %% of one core "
                    "(target < 2 %%)\n",
                    pacedSeconds, wall, cpu, wall > 0 ? cpu / wall * 100 : 0.0);
    }
    std::filesystem::remove_all(root);
    return 0;
}
