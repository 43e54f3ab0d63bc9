// morvik-cli info, render and play: the player component driven from a shell,
// with a plain notification queue pumped by the command's own loop.
//
//   info FILE                  what the player finds when it opens the file
//   render [CPU] IN OUT        plays into a WAVE file (the sound output's file mode)
//   play [CPU] FILE...         plays through the sound device, one file after another
// where CPU is the decoder-routine options of cpuoption.h.
#include "commands.h"
#include "cpuoption.h"

#include "compo/mp3plyr.h"
#include "compo/stream.h"
#include "platform/plainqueue.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace morvik::cli {

namespace {

void reportOpenError(const std::string& path, const EMPError& e)
{
    if (const auto* streamError = dynamic_cast<const EMPStreamError*>(&e); streamError && streamError->SystemError()) {
        errno = streamError->SystemError();
        std::perror(path.c_str());
        return;
    }
    if (std::strcmp(e.what(), UnknownMpegAudioFormat) == 0)
        std::fprintf(stderr, "%s\n", e.what());
    else
        std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
}

// A player on a plain queue that this thread pumps.
struct PlayerHost {
    PlainQueue plain;
    NotifyQueueOn<PlainQueue> queue{plain};
    TMP3Player player;

    // Only Play opens the sound device; the file mode never does.
    PlayerHost() : player(queue)
    {
        player.LoadFormValues();
        player.SetAutoPlay(false);
    }

    // Opens `path` stopped; false (with the message shown) when it fails.
    bool open(const std::string& path)
    {
        try {
            player.SetFileName(path);
            plain.pump();
            return true;
        } catch (const EMPError& e) {
            reportOpenError(path, e);
            return false;
        }
    }
};

const char* infoKindName(TMP3InfoKind kind)
{
    switch (kind) {
    case mitID3V1: return "mitID3V1";
    case mitID3V2: return "mitID3V2";
    case mitRiff: return "mitRiff";
    case mitMacBin: return "mitMacBin";
    case mitLyrics: return "mitLyrics";
    }
    return "";
}

std::string infoTypesText(TMP3InfoType types)
{
    std::string text;
    for (TMP3InfoKind k : {mitID3V1, mitID3V2, mitRiff, mitMacBin, mitLyrics}) {
        if (!types.Has(k))
            continue;
        if (!text.empty())
            text += ',';
        text += infoKindName(k);
    }
    return text;
}

void printList(const char* name, const TMPStringList& list)
{
    for (const std::string& entry : list)
        std::printf("%s\t%s\n", name, escapeBytes(entry).c_str());
}

const char* reasonName(TMP3EndPlayReason reason)
{
    switch (reason) {
    case meprEndOfFile: return "meprEndOfFile";
    case meprStop: return "meprStop";
    case meprError: return "meprError";
    }
    return "";
}

const char* statusName(std::uint8_t status)
{
    switch (status) {
    case mpsPlaying: return "playing";
    case mpsPaused: return "paused";
    default: return "stopped";
    }
}

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) { g_interrupted = 1; }

} // namespace

int cmdInfo(const Args& args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: morvik-cli info FILE\n");
        return 2;
    }
    PlayerHost host;
    if (!host.open(args[0]))
        return 1;
    const TMP3Player& p = host.player;
    std::printf("AudioStart=%lld\n", static_cast<long long>(p.AudioStart()));
    std::printf("AudioLength=%lld\n", static_cast<long long>(p.AudioLength()));
    std::printf("InfoTypes=%s\n", infoTypesText(p.Info().InfoTypes()).c_str());
    std::printf("MpegVersion=%d\n", p.MpegVersion());
    std::printf("LayerNumber=%d\n", p.LayerNumber());
    std::printf("SampleRate=%d\n", p.SampleRate());
    std::printf("Channels=%d\n", p.Channels());
    std::printf("BitRate=%d\n", p.BitRate());
    std::printf("TotalPcmBytes=%lld\n", static_cast<long long>(p.TotalPcmBytes()));
    printList("Id3v1List", p.Info().Id3v1List());
    printList("Id3v2List", p.Info().Id3v2List());
    printList("RiffInfoList", p.Info().RiffInfoList());
    printList("LyricsList", p.Info().LyricsList());
    return 0;
}

int cmdRender(const Args& given)
{
    Args args = given;
    CpuChoice cpu;
    if (!takeCpuOptions(args, cpu))
        return 2;
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: morvik-cli render %s IN OUT.wav\n", kCpuUsage);
        return 2;
    }
    PlayerHost host;
    applyToPlayer(cpu, host.player);
    if (!host.open(args[0]))
        return 1;
    bool ended = false;
    TMP3EndPlayReason reason = meprStop;
    host.player.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason r) {
        ended = true;
        reason = r;
    };
    try {
        host.player.WaveFileName = args[1];
        host.player.Play();
    } catch (const EMPError& e) {
        std::fprintf(stderr, "%s: %s\n", args[1].c_str(), e.what());
        return 1;
    }
    while (!ended) {
        host.plain.waitForMessage(-1);
        host.plain.pump();
    }
    return reason == meprEndOfFile ? 0 : 1;
}

int cmdPlay(const Args& given)
{
    Args args = given;
    CpuChoice cpu;
    if (!takeCpuOptions(args, cpu))
        return 2;
    if (args.empty()) {
        std::fprintf(stderr, "usage: morvik-cli play %s FILE...\n", kCpuUsage);
        return 2;
    }
    PlayerHost host;
    applyToPlayer(cpu, host.player);
    TMP3Player& player = host.player;
    bool ended = false;
    player.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason r) {
        ended = true;
        std::printf("end=%s\n", reasonName(r));
        std::fflush(stdout);
    };
    player.OnChangeStatus = [](TMP3Player* p) {
        std::printf("status=%s\n", statusName(p->Status()));
        std::fflush(stdout);
    };
    player.OnChangePosition = [](TMP3Player* p) {
        const long long ms = p->PositionMs();
        std::printf("position=%lld.%03lld\n", ms / 1000, ms % 1000);
        std::fflush(stdout);
    };
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    int status = 0;
    for (const std::string& path : args) {
        if (g_interrupted)
            break;
        std::printf("file=%s\n", escapeBytes(path).c_str());
        if (!host.open(path)) {
            status = 1;
            continue;
        }
        ended = false;
        try {
            player.Play();
        } catch (const EMPError& e) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
            status = 1;
            continue;
        }
        while (!ended && !g_interrupted) {
            host.plain.waitForMessage(100);
            host.plain.pump();
        }
    }
    if (g_interrupted) {
        // Stop resets the device (every queued block comes back) and closes it.
        player.Stop();
        player.Close();
        host.plain.pump();
        return 130;
    }
    return status;
}

} // namespace morvik::cli
