// Internals shared by the mixer and the module player.
#ifndef ZARQUEL_ZSND_LOCAL_H
#define ZARQUEL_ZSND_LOCAL_H

#include <cstdint>

class CZSnd;

// The Amiga's PAL colour clock, 7,159,090 Hz, from which periods become
// sample rates: rate = clock / (2 x period).
#define MOD_PAULA_CLOCK 7159090u
// Cursor distance kept clear of the device's play and write cursors: 4410
// bytes, 50 ms.
#define SND_CURSOR_GAP 4410u
// Blocks written before the channel buffers start playing: half a second.
#define SND_PREROLL_BLOCKS 30
// The playback thread checks for its end this often (ms).
#define SND_STOP_POLL_MS 3

// One printf-formatted line in the engine log through the mixer's debug
// link (nowhere in the native build, which has no log).
void SND_Log(CZSnd* mixer, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
