/* The game's audio library: tracker music (XM, MOD) and WAV samples from
   memory, played through DirectSound. Calls may come from several threads. */
#ifndef ZQ_BASS_H
#define ZQ_BASS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef ZQ_BASS_BUILD
#define BASSDEF(f) __declspec(dllexport) f WINAPI
#else
#define BASSDEF(f) __declspec(dllimport) f WINAPI
#endif

typedef DWORD HMUSIC;    /* music handle */
typedef DWORD HSAMPLE;   /* sample handle */
typedef DWORD HCHANNEL;  /* sample playback channel handle */
typedef DWORD HSTREAM;   /* stream handle (no streams exist) */

/* BASS_MusicLoad flags: the music starts again at its restart position when
   it ends. Other bits are accepted and have no effect. */
#define BASS_MUSIC_LOOP 4

/* BASS_ErrorGetCode results */
#define BASS_OK             0
#define BASS_ERROR_MEM      1
#define BASS_ERROR_DRIVER   3
#define BASS_ERROR_HANDLE   5
#define BASS_ERROR_INIT     8
#define BASS_ERROR_ALREADY  14
#define BASS_ERROR_NOCHAN   18
#define BASS_ERROR_ILLPARAM 20
#define BASS_ERROR_DEVICE   23
#define BASS_ERROR_NOTAVAIL 37
#define BASS_ERROR_FILEFORM 41
#define BASS_ERROR_UNKNOWN  -1

/* Version of the library: major in the high word. */
BASSDEF(DWORD) BASS_GetVersion(void);
/* device: 1 = the default DirectSound device, 2.. further devices, 0 = no
   sound (everything works, nothing is heard). freq: mixing rate (44100).
   Fails (FALSE) when the device cannot be opened. */
BASSDEF(BOOL) BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* clsid);
BASSDEF(BOOL) BASS_Free(void);
/* Master volume 0..100. */
BASSDEF(BOOL) BASS_SetVolume(DWORD volume);
BASSDEF(int) BASS_ErrorGetCode(void);
/* mem must be TRUE: file points at an XM or 4-channel MOD image of length
   bytes from offset. length 0 means the module's own headers give its size.
   The library keeps its own copy. 0 on failure. freq is ignored. */
BASSDEF(HMUSIC) BASS_MusicLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags, DWORD freq);
/* mem must be TRUE: a RIFF WAV (PCM 8/16-bit, mono/stereo) of length bytes.
   max: simultaneous playbacks allowed (1..64). 0 on failure. */
BASSDEF(HSAMPLE) BASS_SampleLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD max, DWORD flags);
BASSDEF(BOOL) BASS_Start(void);
BASSDEF(BOOL) BASS_Stop(void);
/* Plays a music from its start. */
BASSDEF(BOOL) BASS_MusicPlay(HMUSIC handle);
/* No streams exist: always FALSE (BASS_ERROR_HANDLE). */
BASSDEF(BOOL) BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags);
/* start: byte offset into the sample data; freq -1 = the sample's own rate;
   volume 0..100 (-1 = 100); pan -100..100, -101 = the sample's own (centre).
   0 when the sample's playbacks are all busy. */
BASSDEF(HCHANNEL) BASS_SamplePlayEx(HSAMPLE handle, DWORD start, int freq, int volume, int pan, BOOL loop);
/* A sample channel or a music handle. */
BASSDEF(BOOL) BASS_ChannelPause(DWORD handle);
BASSDEF(BOOL) BASS_ChannelResume(DWORD handle);
/* BASS_ChannelIsActive results; a channel that has ended or was never
   there is stopped. */
#define BASS_ACTIVE_STOPPED 0
#define BASS_ACTIVE_PLAYING 1
#define BASS_ACTIVE_PAUSED  3
BASSDEF(DWORD) BASS_ChannelIsActive(DWORD handle);

#ifdef __cplusplus
}
#endif

#endif
