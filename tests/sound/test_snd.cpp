// The engine's sound under Wine: the mixer over the real DirectSound 8, its
// playback thread, and the output captured through ALSA's file plugin
// (ZQS_CAPTURE: 32-bit float stereo at 48 kHz, as Wine opens it). The null
// device does not pace playback, so the capture is judged by pitch, order
// and relative timing, never by wall-clock time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "modwrite.h"
#include "zarquel.h"
#include "zqtest.h"

namespace {

HWND SoundWindow()
{
    static HWND window = CreateWindowA("STATIC", "zq sound test", WS_POPUP, 0, 0, 16, 16, NULL, NULL, NULL, NULL);
    return window;
}

std::vector<uint8_t> Module(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(modwrite::Build(text, bytes, error)) << error;
    return bytes;
}

// Waits (at most `ms`) until the player reaches `state`.
bool WaitForState(CZSnd* snd, uint8_t state, DWORD ms)
{
    for (DWORD t = 0; t < ms; t += 10) {
        snd->Mixer_Lock();
        bool there = snd->Mod->State == state;
        snd->Mixer_Unlock();
        if (there)
            return true;
        Sleep(10);
    }
    return false;
}

uint32_t Blocks(CZSnd* snd)
{
    snd->Mixer_Lock();
    uint32_t n = snd->BlocksMixed;
    snd->Mixer_Unlock();
    return n;
}

struct Segment {
    size_t Start = 0, Frames = 0;
    double Hz = 0;
};

// Sounding stretches of the capture separated by at least `gap` frames of
// silence, with their pitch from the zero crossings of the middle half.
std::vector<Segment> Segments(const std::vector<float>& x, size_t gap)
{
    std::vector<Segment> out;
    const float quiet = 1e-4f;
    size_t i = 0;
    while (i < x.size()) {
        while (i < x.size() && std::fabs(x[i]) <= quiet)
            i++;
        if (i >= x.size())
            break;
        size_t start = i, last = i, run = 0;
        for (; i < x.size(); i++) {
            if (std::fabs(x[i]) > quiet) { last = i; run = 0; }
            else if (++run >= gap) break;
        }
        Segment s;
        s.Start = start;
        s.Frames = last + 1 - start;
        // Upward crossings with hysteresis: the held 8-bit steps linger
        // around zero.
        size_t a = start + s.Frames / 4, b = last - s.Frames / 4, first = 0, lastUp = 0, ups = 0;
        float peak = 0;
        for (size_t k = a; k < b; k++)
            peak = std::max(peak, std::fabs(x[k]));
        bool low = false;
        for (size_t k = a; k < b; k++) {
            if (x[k] < -0.2f * peak)
                low = true;
            else if (low && x[k] > 0.2f * peak) {
                low = false;
                if (!ups++)
                    first = k;
                lastUp = k;
            }
        }
        if (ups > 1)
            s.Hz = 48000.0 * double(ups - 1) / double(lastUp - first);
        out.push_back(s);
    }
    return out;
}

}  // namespace

TEST(Snd, EngineTablesAndDeinitReleasesEverything)
{
    CZarquel* z = new CZarquel;
    ASSERT_NE(z->Snd, nullptr);
    EXPECT_EQ(z->Snd->Debug, z->Debug);
    EXPECT_EQ(z->Snd->Xfs, z->Xfs);
    CZSnd* snd = z->Snd;
    EXPECT_FALSE(snd->InitSound(ZSND_MAX_CHANNELS + 1, 0, SoundWindow())) << "more channels than records";

    for (int round = 0; round < 2; round++) {
        ASSERT_TRUE(snd->InitSound(4, 0, SoundWindow()));
        ASSERT_NE(snd->Mod, nullptr);
        EXPECT_EQ(snd->Mod->Mixer, snd);
        EXPECT_EQ(snd->ChannelCount, 4);
        HANDLE thread = NULL;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), snd->PlaybackThread, GetCurrentProcess(), &thread,
                                    SYNCHRONIZE, FALSE, 0));
        // The write cursor steps by a block and wraps after 60 of them.
        while (Blocks(snd) < 65)
            Sleep(10);
        snd->Mixer_Lock();
        EXPECT_EQ(snd->WriteCursor, (snd->BlocksMixed % 60) * ZSND_BLOCK_BYTES);
        snd->Mixer_Unlock();

        snd->DeinitSound();
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the playback thread has ended";
        CloseHandle(thread);
        EXPECT_EQ(snd->Mod, nullptr);
        EXPECT_EQ(snd->PlaybackThread, nullptr);
        EXPECT_EQ(snd->StopEvent, nullptr);
        EXPECT_EQ(snd->Device, nullptr);
        EXPECT_EQ(snd->Initialised, 0);
        EXPECT_EQ(snd->ChannelCount, 0);
    }
    delete z;
}

TEST(Snd, PlayStopAndLoadNeverMeetABlockHalfWay)
{
    CZarquel* z = new CZarquel;
    CZSnd* snd = z->Snd;
    ASSERT_TRUE(snd->InitSound(4, 0, SoundWindow()));
    std::vector<uint8_t> a = Module("sample 1 saw cycle=40\norder 0 1\npattern 0\n0 C-2 1 | E-2 1 | G-2 1 | C-3 1\n"
                                    "pattern 1\n0 C-1 1 B00\n");
    std::vector<uint8_t> b = Module("sample 1 square cycle=16\norder 0\npattern 0\n0 C-3 1 037\n");
    uint32_t start = Blocks(snd);
    for (int i = 0; Blocks(snd) < start + 120; i++) {
        EXPECT_EQ(snd->Mod->LoadMemoryMod(i & 1 ? a.data() : b.data(), uint32_t(i & 1 ? a.size() : b.size())), 0);
        EXPECT_EQ(snd->Mod->PlayMusic(), 0);
        if (i % 3 == 0)
            snd->Mod->StopMusic();
        Sleep(1);
    }
    snd->Mod->StopMusic();
    snd->Mixer_Lock();
    EXPECT_LE(snd->Mod->Row, ZMOD_ROWS);
    snd->Mixer_Unlock();
    snd->DeinitSound();
    delete z;
}

TEST(Snd, OutputPitchOrderAndSilenceAfterTheSong)
{
    const char* capture = std::getenv("ZQS_CAPTURE");
    if (!capture)
        GTEST_SKIP() << "ZQS_CAPTURE not set (run through ctest)";
    // Three held notes on three channels, each cut before the next starts;
    // the song ends after row 63.
    std::vector<uint8_t> mod = Module("sample 1 sine cycle=64 amp=120\norder 0\npattern 0\n"
                                      "0 C-2 1\n16 --- .. C00\n"
                                      "24 --- .. ... | G-2 1\n36 --- .. ... | --- .. C00\n"
                                      "44 --- .. ... | --- .. ... | C-3 1\n52 --- .. ... | --- .. ... | --- .. C00\n");
    // A playback thread starved by a loaded machine falls behind the device,
    // which then plays what the buffers held a second before: such a capture
    // says nothing about the player. Up to three tries for one without.
    std::vector<float> x;
    uint32_t underruns = 0;
    for (int attempt = 0; attempt < 3; attempt++) {
        std::remove(capture);
        CZarquel* z = new CZarquel;
        CZSnd* snd = z->Snd;
        ASSERT_TRUE(snd->InitSound(4, 0, SoundWindow()));
        ASSERT_EQ(snd->Mod->LoadMemoryMod(mod.data(), uint32_t(mod.size())), 0);
        ASSERT_EQ(snd->Mod->PlayMusic(), 0);
        ASSERT_TRUE(WaitForState(snd, ZMOD_STOPPED, 30000));
        uint32_t end = Blocks(snd);
        while (Blocks(snd) < end + 120)
            Sleep(10);
        Sleep(300);
        snd->DeinitSound();
        underruns = snd->Underruns;
        delete z;
        if (underruns)
            continue;
        x.clear();
        if (FILE* f = std::fopen(capture, "rb")) {
            float fr[2];
            while (std::fread(fr, sizeof(float), 2, f) == 2)
                x.push_back((fr[0] + fr[1]) * 0.5f);
            std::fclose(f);
        }
        break;
    }
    if (underruns)
        GTEST_SKIP() << "the playback thread fell behind the device in every try (" << underruns << " blocks late)";
    ASSERT_GT(x.size(), 48000u) << "nothing captured";
    std::vector<Segment> seg = Segments(x, 4800);
    ASSERT_EQ(seg.size(), 3u) << "three notes, then silence to the end";
    // The Amiga pitch of each period on a 64-sample cycle. The mixer's step
    // is rounded to an even number of 1/1024 samples (under 0.5% here) and
    // its loop jump drops less than one step per cycle (under 0.6%): 1.5%.
    const double want[3] = {7159090.0 / (2 * 428) / 64, 7159090.0 / (2 * 285) / 64, 7159090.0 / (2 * 214) / 64};
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(seg[size_t(i)].Hz, want[i], want[i] * 0.015) << "note " << i;
    // Rows 0-16, 24-36, 44-52 and the gaps between them in proportion: the
    // capture runs at its own pace, but block after block in order.
    double row = double(seg[1].Start - seg[0].Start) / 24;
    EXPECT_NEAR(double(seg[2].Start - seg[1].Start) / row, 20, 1);
    EXPECT_NEAR(double(seg[0].Frames) / row, 16, 1);
    EXPECT_NEAR(double(seg[1].Frames) / row, 12, 1);
    EXPECT_NEAR(double(seg[2].Frames) / row, 8, 1);
    size_t quietTail = x.size() - (seg[2].Start + seg[2].Frames);
    EXPECT_GT(double(quietTail) / row, 11.0) << "silent after the song's last rows";
}

ZQ_CHILD(snd_init)
{
    CZarquel* z = new CZarquel;
    z->Snd->InitSound(4, 0, SoundWindow());
}

// Run by ctest a second time with Wine's audio driver switched off.
TEST(Snd, NoDeviceIsFatal)
{
    if (!std::getenv("ZQS_EXPECT_NO_DEVICE"))
        GTEST_SKIP() << "runs as test_snd_nodevice";
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("snd_init"), 1, "Can't create Sound output", "Zarquel ZSND"));
}
