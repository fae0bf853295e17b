#include "soundplayer.h"
#include "bass.h"
#include "bf04.h"

SoundPlayer::SoundPlayer()
{
    Engine = nullptr;
    Silenced = Muted = 0;
    BASS_GetVersion();
    // The engine has no window yet: the desktop owns the output. Without a
    // device the game runs silent (device 0).
    if (!BASS_Init(1, SOUND_RATE, 0, GetDesktopWindow(), nullptr))
        BASS_Init(0, SOUND_RATE, 0, GetDesktopWindow(), nullptr);
    BASS_SetVolume(100);
    Music = 0;
    Stream = 0;
}

void* SoundPlayer::SND_ReadWhole(const char* name, unsigned long* size)
{
    CZXfs* xfs = Engine->Xfs;
    unsigned long file = xfs->OpenFile(name);
    *size = xfs->GetFileSize(file);
    void* buffer = Engine->Mem->GetMem(*size);
    xfs->ReadFile(file, buffer, *size);
    xfs->CloseFile(file);
    return buffer;
}

// The library keeps its own copy: the buffers go back right after loading.
void SoundPlayer::LoadMusic(const char* name)
{
    unsigned long size;
    void* buffer = SND_ReadWhole(name, &size);
    // The size bounds the loader: with length 0 it would trust the module's
    // own sizes and read past the end of a cut file. For the same reason an
    // empty file is not handed over at all.
    Music = size ? BASS_MusicLoad(TRUE, buffer, 0, size, SOUND_MUSIC_FLAGS, 0) : 0;
    Engine->Mem->FreeMem(buffer, size);
}

unsigned long SoundPlayer::LoadSample(const char* name)
{
    unsigned long size;
    void* buffer = SND_ReadWhole(name, &size);
    unsigned long sample = size ? BASS_SampleLoad(TRUE, buffer, 0, size, SOUND_MAX_PLAYBACKS, 0) : 0;
    Engine->Mem->FreeMem(buffer, size);
    return sample;
}

void SoundPlayer::Start()
{
    BASS_Start();
    if (Music)
        BASS_MusicPlay(Music);
    if (Stream)
        BASS_StreamPlay(Stream, 0, 0);
}

void SoundPlayer::Stop() { BASS_Stop(); }
void SoundPlayer::Pause(unsigned long channel) { BASS_ChannelPause(channel); }
void SoundPlayer::Resume(unsigned long channel) { BASS_ChannelResume(channel); }
int SoundPlayer::State(unsigned long channel) { return (int)BASS_ChannelIsActive(channel); }

unsigned long SoundPlayer::SND_Play(unsigned long sample, int volume, bool muted, bool loop)
{
    volume -= SOUND_VOLUME_OFFSET;
    if (volume < 0) {
        InterlockedIncrement(&Silenced);
        return 0;
    }
    // Read without the lock: the tick that calls this holds it already.
    if (muted && (G.F.MenuShown || G.F.Automatic)) {
        InterlockedIncrement(&Muted);
        return 0;
    }
    return BASS_SamplePlayEx(sample, 0, -1, volume, -101, loop);
}

unsigned long SoundPlayer::PlaySample(unsigned long sample, int volume) { return SND_Play(sample, volume, true, false); }
unsigned long SoundPlayer::PlaySampleUnmuted(unsigned long sample, int volume)
{
    return SND_Play(sample, volume, false, false);
}
unsigned long SoundPlayer::PlaySampleLoop(unsigned long sample, int volume) { return SND_Play(sample, volume, true, true); }
