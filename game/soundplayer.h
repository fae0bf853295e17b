// SoundPlayer: the game's music and samples through its audio library
// (bass.dll), read out of the master file. Every play request loses 20 of its
// volume; the muted routines stay silent on the menu and in automatic mode.
#ifndef BF04_SOUNDPLAYER_H
#define BF04_SOUNDPLAYER_H
#include "zarquel.h"

#define SOUND_VOLUME_OFFSET 20     // taken off every requested volume
#define SOUND_MAX_PLAYBACKS 5      // simultaneous playbacks of one sample
#define SOUND_RATE 44100
#define SOUND_MUSIC_FLAGS 0x8C04   // loops (4): the music plays to the end of the program

class SoundPlayer {
public:
    SoundPlayer();
    void LoadMusic(const char* name);
    unsigned long LoadSample(const char* name);
    void Start();
    void Stop();
    void Pause(unsigned long channel);
    void Resume(unsigned long channel);
    int State(unsigned long channel);   // the library's BASS_ACTIVE_* state
    // (sample, volume) -> channel, 0 when nothing plays.
    unsigned long PlaySample(unsigned long sample, int volume);          // once, muted on menu/automatic
    unsigned long PlaySampleUnmuted(unsigned long sample, int volume);   // once, never muted
    unsigned long PlaySampleLoop(unsigned long sample, int volume);      // looping, muted

    CZarquel* Engine;
    unsigned long Music;
    unsigned long Stream;          // always 0: no stream is loaded
    // Counters for tests: plays refused by the volume rule and by the mute.
    volatile long Silenced, Muted;
private:
    unsigned long SND_Play(unsigned long sample, int volume, bool muted, bool loop);
    void* SND_ReadWhole(const char* name, unsigned long* size);
};

#endif
