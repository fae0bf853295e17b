// bf04drive OUTFOLDER [CAPTURE.raw]: plays brolfest04 (its test build) with
// no one at the keyboard. Presses "Start" in the real dialog, lets the menu
// run, presses A for about half a minute of automatic mode, then Esc twice;
// writes a screenshot every few seconds into OUTFOLDER and, when the sound
// was captured to CAPTURE.raw, the sound as OUTFOLDER\sound.wav.
#include <cstdio>
#include <cstring>
#include "drive.h"

#define DRIVE_MENU_MS 8000
#define DRIVE_AUTOMATIC_MS 30000
#define DRIVE_SHOT_MS 3000

static char g_out[MAX_PATH];
static int g_shots;

static void Shot(const char* what)
{
    DriveImage image;
    char path[MAX_PATH + 64];
    snprintf(path, sizeof path, "%s\\%02d-%s.bmp", g_out, g_shots++, what);
    if (DriveScreenshot(&image))
        DriveSaveBmp(image, path);
}

static void Watch(const char* what, int ms)
{
    for (int t = 0; t < ms; t += DRIVE_SHOT_MS) {
        Sleep(DRIVE_SHOT_MS < ms - t ? DRIVE_SHOT_MS : ms - t);
        Shot(what);
    }
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bf04drive OUTFOLDER [CAPTURE.raw]\n");
        return 2;
    }
    lstrcpynA(g_out, argv[1], sizeof g_out);
    CreateDirectoryA(g_out, nullptr);
    DriveRun run;
    HWND dialog;
    if (!DriveOpenGame(&run, &dialog, nullptr)) {
        DriveClose(&run);
        return 1;
    }
    Sleep(500);
    Shot("dialog");
    DriveSetText(dialog, 1000, "bf04drive");
    DriveClick(dialog, IDOK);
    for (int waited = 0; !run.Probe->TimerStarted && waited < 180000; waited += 100)
        Sleep(100);
    HWND game = DriveFindWindow(&run, DRIVE_GAME_TITLE, 10000);
    if (!run.Probe->TimerStarted || !game) {
        fprintf(stderr, "bf04drive: the game did not start\n");
        DriveClose(&run);
        return 1;
    }
    double startup = 0;
    for (int waited = 0; !run.Probe->FirstMenuFrameTime && waited < 10000; waited += 10)
        Sleep(10);
    if (run.Probe->FirstMenuFrameTime)
        startup = (double)(run.Probe->FirstMenuFrameTime - run.Probe->StartTime) / run.Probe->CounterFrequency;
    printf("bf04drive: first menu frame %.1f s after Start\n", startup);
    Watch("menu", DRIVE_MENU_MS);
    DrivePress(game, 'A', 100);
    uint32_t frames = run.Probe->Frames;
    DWORD t0 = GetTickCount();
    Watch("automatic", DRIVE_AUTOMATIC_MS);
    double fps = (run.Probe->Frames - frames) * 1000.0 / (GetTickCount() - t0);
    printf("bf04drive: automatic mode at %.1f frames per second\n", fps);
    DrivePress(game, VK_ESCAPE, 100);
    Watch("menu-again", 3000);
    DrivePress(game, VK_ESCAPE, 100);
    Watch("end", 3000);
    int code = DriveWaitExit(&run, 30000);
    printf("bf04drive: the game ended with exit code %d after %u ticks and %u frames\n", code, run.Probe->Ticks,
           run.Probe->Frames);
    DriveClose(&run);
    if (argc > 2) {
        char wav[MAX_PATH + 16];
        snprintf(wav, sizeof wav, "%s\\sound.wav", g_out);
        if (!DriveRawToWav(argv[2], wav))
            fprintf(stderr, "bf04drive: no sound captured in %s\n", argv[2]);
    }
    return code == 0 ? 0 : 1;
}
