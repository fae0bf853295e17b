// Driving brolfest04 from outside, as a person would: the start dialog's
// controls, key presses posted to the game window, screenshots of the
// screen, and (with the test build) the game's published flags.
#ifndef BF04_DRIVE_H
#define BF04_DRIVE_H
#include <windows.h>
#include <cstdint>
#include <vector>
#include "bf04probe.h"

#define DRIVE_DIALOG_TITLE "MORVA - Brolfest 2004 Invtro - Experiment"
#define DRIVE_GAME_TITLE "MORVA - Brolfest'04 Invitation Demo"

struct DriveRun {
    PROCESS_INFORMATION Process;
    HANDLE Map;
    BF04_PROBE* Probe;       // zeroed before the game starts; null without a mapping
};

// Creates (and clears) the probe mapping, then starts `exe` in `folder`
// (null: the exe's own folder).
bool DriveStart(DriveRun* run, const char* exe, const char* folder);
// Starts brolfest04_probe.exe from this program's folder (running in
// `folder`, null: its own) and waits for its start dialog; false, with the
// reason on stderr, when either fails.
bool DriveOpenGame(DriveRun* run, HWND* dialog, const char* folder);
// The visible top-level window of the run's process with this title, or null when
// none appears within timeoutMs.
HWND DriveFindWindow(const DriveRun* run, const char* title, int timeoutMs);
void DriveClick(HWND dialog, int control);
void DriveSetText(HWND dialog, int control, const char* text);
void DriveKey(HWND window, int key, bool down);
void DrivePress(HWND window, int key, int holdMs);
// Waits until the probe's tick count reaches `ticks`.
bool DriveWaitTicks(const DriveRun* run, uint32_t ticks, int timeoutMs);
// A consistent copy of the game's health record; false when none was
// written yet or the game keeps writing it.
bool DriveHealth(const DriveRun* run, BF04_HEALTH* health);
// The process's exit code, or -1 after timeoutMs (the process is then ended).
int DriveWaitExit(DriveRun* run, int timeoutMs);
void DriveClose(DriveRun* run);

// The screen's top-left 640 x 480 as rows of B, G, R bytes, top row first.
struct DriveImage {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Bgr;
    const uint8_t* At(int x, int y) const { return &Bgr[(y * Width + x) * 3]; }
};
bool DriveScreenshot(DriveImage* image);
// The screen is 640 x 480 at 16 bits: where the default full-screen start works.
bool DriveSixteenBitScreen();
// Share of the screen's pixels (a 640 x 480 inner grid) whose channels all
// lie within `tolerance` of the picture's (`above`: the screen may be
// brighter, as over an additive picture).
double DriveMatch(const DriveImage& screen, const DriveImage& picture, int tolerance, bool above);
bool DriveSaveBmp(const DriveImage& image, const char* path);
bool DriveLoadBmp(DriveImage* image, const char* path);   // 24-bit, either row order
// A raw capture (32-bit float stereo at 48 kHz) as a WAV file.
bool DriveRawToWav(const char* raw, const char* wav);

#endif
