// The mixer's device side: DirectSound 8, one looping buffer per channel, and
// the time-critical playback thread that writes one block at a time.
#include <new>
#include <windows.h>
#include <mmreg.h>
#include <dsound.h>

#include "zdebug.h"
#include "zmod.h"
#include "zsnd.h"
#include "zsnd_local.h"

static const char SND_CAPTION[] = "Zarquel ZSND";

static_assert(sizeof(DSBUFFERDESC) == 36, "the buffer description DirectSound 8 expects");

// Every checked DirectSound call goes through here: a failure is logged
// with the call and its result, and the caller decides what follows.
static bool SND_Check(CZSnd* snd, HRESULT hr, const char* call)
{
    if (SUCCEEDED(hr))
        return true;
    SND_Log(snd, "CZSnd: %s failed: 0x%08lX", call, static_cast<unsigned long>(hr));
    return false;
}

static WAVEFORMATEX SND_Format(WORD channels)
{
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = ZSND_RATE;
    f.wBitsPerSample = 16;
    f.nBlockAlign = WORD(channels * 2);
    f.nAvgBytesPerSec = ZSND_RATE * f.nBlockAlign;
    return f;
}

static DWORD WINAPI SND_ThreadMain(LPVOID self)
{
    static_cast<CZSnd*>(self)->PlayCallBack();
    return 0;
}

CZSnd::~CZSnd()
{
    DeinitSound();
}

void CZSnd::SND_Fatal(const char* message)
{
    if (Debug)
        Debug->ShowMessageAndExit(message, SND_CAPTION);
    ExitProcess(1);
}

bool CZSnd::InitSound(uint8_t channels, uint8_t, void* window)
{
    if (Initialised) {
        SND_Log(this, "CZSnd::InitSound: sound is already running; call DeinitSound first");
        return true;
    }
    if (channels == 0 || channels > ZSND_MAX_CHANNELS) {
        SND_Log(this, "CZSnd::InitSound: %u channels asked; 1 ... %u can be opened", unsigned(channels),
                unsigned(ZSND_MAX_CHANNELS));
        return false;
    }
    if (!SND_Check(this, DirectSoundCreate8(NULL, &Device, NULL), "DirectSoundCreate8"))
        SND_Fatal("Can't create Sound output");
    if (!SND_Check(this, Device->SetCooperativeLevel(static_cast<HWND>(window), DSSCL_EXCLUSIVE),
                   "SetCooperativeLevel"))
        SND_Fatal("Can't create Sound output exclusive, stop winamp!!");

    DSBUFFERDESC desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME;
    if (!SND_Check(this, Device->CreateSoundBuffer(&desc, &Primary, NULL), "CreateSoundBuffer (primary)"))
        SND_Fatal("Can't create primary Sound Buffer");
    WAVEFORMATEX format = SND_Format(2);
    if (!SND_Check(this, Primary->SetFormat(&format), "SetFormat"))
        SND_Fatal("Can't set output format");

    // The playback thread owns the cursor from its start on.
    WriteCursor = 0;
    BlocksMixed = 0;
    Underruns = 0;
    if (!InitMusicChannels(channels))
        SND_Fatal("Can't init Music Channels!");

    // The playback thread runs already.
    Mixer_Lock();
    for (uint32_t c = 0; c < channels; c++)
        Channel[c].Data = nullptr;
    Mod = new (std::nothrow) CZMod;
    if (!Mod) {
        Mixer_Unlock();
        SND_Fatal("Can't init MOD Control!");
    }
    Mod->Init(this);
    Initialised = 1;
    Mixer_Unlock();
    return true;
}

bool CZSnd::InitMusicChannels(uint8_t channels)
{
    WAVEFORMATEX format = SND_Format(1);
    for (uint32_t c = 0; c < channels; c++) {
        Buffers[c].Size = ZSND_BUFFER_BYTES;
        DSBUFFERDESC desc = {};
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = ZSND_BUFFER_BYTES;
        desc.lpwfxFormat = &format;
        IDirectSoundBuffer* buffer = nullptr;
        if (!SND_Check(this, Device->CreateSoundBuffer(&desc, &buffer, NULL), "CreateSoundBuffer (channel)"))
            return false;
        Buffers[c].Buffer = buffer;
        buffer->SetFrequency(DSBFREQUENCY_ORIGINAL);
    }
    StopEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    ChannelCount = channels;
    PlaybackThread = CreateThread(NULL, 0, SND_ThreadMain, this, 0, NULL);
    return PlaybackThread != NULL;
}

bool CZSnd::SND_WaitForRoom(uint64_t written)
{
    for (bool first = true;; first = false) {
        DWORD play = 0, write = 0;
        Buffers[0].Buffer->GetCurrentPosition(&play, &write);
        SND_Played += (play + ZSND_BUFFER_BYTES - SND_LastPlay) % ZSND_BUFFER_BYTES;
        SND_LastPlay = play;
        // The device has played more than was written: it is playing what
        // the buffer held a second ago.
        if (first && SND_Played > written)
            Underruns++;
        uint32_t m = WriteCursor;
        bool room = play < write ? (m > write + SND_CURSOR_GAP || m + SND_CURSOR_GAP < play)
                                 : (m > write + SND_CURSOR_GAP && m + SND_CURSOR_GAP < play);
        if (room)
            return true;
        CursorWaits++;
        // Waiting on the stop event rather than sleeping: a device that
        // stops moving cannot keep DeinitSound waiting.
        if (WaitForSingleObject(StopEvent, 1) == WAIT_OBJECT_0)
            return false;
    }
}

void CZSnd::PlayCallBack()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    WriteCursor = 0;
    uint32_t written = 0;   // blocks since the start
    bool playing = false;
    for (;;) {
        if (WaitForSingleObject(StopEvent, SND_STOP_POLL_MS) == WAIT_OBJECT_0)
            return;
        if (playing && !SND_WaitForRoom(uint64_t(written) * ZSND_BLOCK_BYTES))
            return;

        Mixer_Lock();
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        if (Mod) {
            // The player also runs for one block after the song stopped, so
            // that the channels fall silent.
            bool running = Mod->State == ZMOD_PLAYING || Mod->State == ZMOD_STARTING;
            if (running || MusicWasRunning)
                Mod->ControlChannels();
            MusicWasRunning = running;
        }
        MixChannels(false);
        QueryPerformanceCounter(&t1);
        BlockTicks += uint64_t(t1.QuadPart - t0.QuadPart);
        BlocksMixed++;
        WriteCursor += ZSND_BLOCK_BYTES;
        if (WriteCursor >= ZSND_BUFFER_BYTES)
            WriteCursor = 0;
        Mixer_Unlock();

        if (++written >= SND_PREROLL_BLOCKS && !playing) {
            SND_Played = 0;
            SND_LastPlay = 0;
            for (uint32_t c = 0; c < ChannelCount; c++)
                Buffers[c].Buffer->Play(0, 0, DSBPLAY_LOOPING);
            playing = true;
        }
    }
}

void CZSnd::MixChannels(bool silent)
{
    if (silent) {
        Mixing = 0;
        return;
    }
    for (uint32_t c = 0; c < ChannelCount; c++) {
        void* part1 = nullptr;
        void* part2 = nullptr;
        DWORD bytes1 = 0, bytes2 = 0;
        // Run-time results are not acted on; a block that cannot be locked
        // is skipped.
        if (FAILED(Buffers[c].Buffer->Lock(WriteCursor, ZSND_BLOCK_BYTES, &part1, &bytes1, &part2, &bytes2, 0)) ||
            !part1)
            continue;
        Mixer_MixChannel(c, static_cast<int16_t*>(part1), bytes1 / 2);
        Buffers[c].Buffer->Unlock(part1, bytes1, part2, bytes2);
    }
}

void CZSnd::DeinitSound()
{
    if (!Initialised)
        return;
    SetEvent(static_cast<HANDLE>(StopEvent));
    WaitForSingleObject(static_cast<HANDLE>(PlaybackThread), INFINITE);
    CloseHandle(static_cast<HANDLE>(PlaybackThread));
    CloseHandle(static_cast<HANDLE>(StopEvent));
    PlaybackThread = nullptr;
    StopEvent = nullptr;
    for (uint32_t c = 0; c < ChannelCount; c++)
        Buffers[c].Buffer->Stop();
    for (uint32_t c = 0; c < ChannelCount; c++) {
        Buffers[c].Buffer->Release();
        Buffers[c].Buffer = nullptr;
    }
    Primary->Release();
    Primary = nullptr;
    Device->Release();
    Device = nullptr;
    delete Mod;
    Mod = nullptr;
    MusicWasRunning = 0;
    ChannelCount = 0;
    Initialised = 0;
    Reserved = 0;
}
