// The player component on damaged streams: each input is opened and played
// to its end through the player, on the fake wave output (blocks finish as
// soon as the loop lets them), with the notifications pumped here. Every
// render must end: one that takes longer than a generous limit is reported
// as a hang. Byte 0: bit 0 the stream can seek, bit 1 pause and resume once
// while playing; the rest is the stream.
#include "compo/mp3plyr.h"
#include "compo/stream.h"
#include "platform/plainqueue.h"
#include "platform/waveoutfake.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace morvik;

namespace {

struct Rig {
    PlainQueue plain;
    NotifyQueueOn<PlainQueue> queue{plain};
    waveout::FakeWaveOut fake;
    TMP3Player player{queue, fake};
    bool ended = false;

    Rig()
    {
        player.LoadFormValues();
        player.SetAutoPlay(false);
        player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason) { ended = true; };
        // A worker's exception ends playback with meprError; no need to print it.
        SetMPExceptionDisplay([](const std::exception&) {});
    }
};

Rig* g_rig = nullptr;

// Made once for all inputs, and taken down at exit before the static objects
// its threads wait on.
Rig& rig()
{
    if (!g_rig) {
        g_rig = new Rig;
        std::atexit([] {
            delete g_rig;
            g_rig = nullptr;
        });
    }
    return *g_rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    Rig& r = rig();
    const bool seekable = data[0] & 1;
    const bool pause = data[0] & 2;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        r.player.OpenStream(new TMPMemoryStream(bytes), static_cast<std::uint8_t>(mpsfOwned | (seekable ? mpsfSeekable : 0)));
    } catch (const EMPError&) {
        if (r.player.IsOpen())
            std::abort(); // a failed open leaves the player closed
        r.plain.pump();
        return 0;
    }
    r.ended = false;
    r.player.Play();
    if (pause) {
        r.player.Pause();
        r.player.Resume();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!r.ended) {
        r.plain.pump();
        r.fake.releaseBlock();
        r.plain.waitForMessage(1);
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "fuzz_player: the render did not end\n");
            std::abort();
        }
    }
    r.player.Close();
    r.plain.pump();
    return 0;
}
