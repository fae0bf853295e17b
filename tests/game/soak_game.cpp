// bf04soak MINUTES OUTFOLDER [CYCLES]: brolfest04 (its test build) full
// screen in automatic mode for MINUTES, then CYCLES (default 50) lost and
// reset devices, then Esc twice. Samples the game's health record (engine
// heap, process memory, handles, GDI and USER objects) and writes the curve
// to OUTFOLDER\soak-curve.csv and the verdict to OUTFOLDER\soak-report.txt
// (also printed), with screenshots before and after the resets. Exit code 0 when every figure stayed within its tolerance,
// every reset succeeded and the textures still draw after the last one.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "drive.h"

#define SOAK_LOAD_MS 240000          // from "Start" to the timer, on a loaded machine
#define SOAK_WARMUP_MAX_MS 300000    // the longest warm-up (see Warm)
#define SOAK_PERIOD_MAX_MS 10000     // sampling period of a long soak
#define SOAK_SAMPLES_MIN 30          // a short soak samples more often to keep the fit meaningful
#define SOAK_CYCLES 50
#define SOAK_STEP_MS 10000           // the longest a lost or reset device may take to show
#define SOAK_PICTURE_MATCH 0.9       // share of the screen that must show the automatic picture
#define SOAK_LOOK_EVERY 10           // cycles between looks at the screen
#define SOAK_SETTLE_MS 2000          // frames after a reset before a look

// Tolerated growth over the soak (the fitted line's rise over its length)
// and over all the reset cycles (after against before).
#define SOAK_HEAP_BYTES (64.0 * 1024)
#define SOAK_MEMORY_BYTES (16.0 * 1024 * 1024)
#define SOAK_OBJECTS 16.0

namespace {

FILE* g_report;

void Say(const char* format, ...)
{
    va_list a;
    va_start(a, format);
    vprintf(format, a);
    va_end(a);
    if (g_report) {
        va_start(a, format);
        vfprintf(g_report, format, a);
        va_end(a);
    }
    fflush(stdout);
}

struct Series {
    const char* Name;
    const char* Unit;
    double Scale;       // from the record's unit to Unit
    double Tolerance;   // in the record's unit
    uint32_t BF04_HEALTH::*Field;
};
const Series kSeries[] = {
    {"engine heap in use", "KiB", 1.0 / 1024, SOAK_HEAP_BYTES, &BF04_HEALTH::HeapInUse},
    {"engine heap top", "KiB", 1.0 / 1024, SOAK_HEAP_BYTES, &BF04_HEALTH::HeapTop},
    {"working set", "MiB", 1.0 / (1024 * 1024), SOAK_MEMORY_BYTES, &BF04_HEALTH::WorkingSet},
    {"private bytes", "MiB", 1.0 / (1024 * 1024), SOAK_MEMORY_BYTES, &BF04_HEALTH::PrivateBytes},
    {"handles", "", 1, SOAK_OBJECTS, &BF04_HEALTH::Handles},
    {"GDI objects", "", 1, SOAK_OBJECTS, &BF04_HEALTH::GdiObjects},
    {"USER objects", "", 1, SOAK_OBJECTS, &BF04_HEALTH::UserObjects},
};
const int kSeriesCount = sizeof kSeries / sizeof kSeries[0];

struct Sample {
    double Seconds;
    uint32_t Frames;
    BF04_HEALTH Health;
};

// Least-squares slope of one series, per second.
double Slope(const std::vector<Sample>& s, const Series& series)
{
    double n = (double)s.size(), st = 0, sv = 0, stt = 0, stv = 0;
    for (const Sample& x : s) {
        const double v = x.Health.*series.Field;
        st += x.Seconds;
        sv += v;
        stt += x.Seconds * x.Seconds;
        stv += x.Seconds * v;
    }
    const double d = n * stt - st * st;
    return d > 0 ? (n * stv - st * sv) / d : 0;
}

bool Alive(DriveRun& run)
{
    return WaitForSingleObject(run.Process.hProcess, 0) != WAIT_OBJECT_0;
}

bool WaitWord(DriveRun& run, volatile uint32_t* word, uint32_t above)
{
    for (int waited = 0; waited < SOAK_STEP_MS && Alive(run); waited += 5) {
        if (*word > above)
            return true;
        Sleep(5);
    }
    return false;
}

bool Fresh(DriveRun& run, BF04_HEALTH* h)
{
    // The next sample, so that it was taken after whatever came before.
    const uint32_t seen = run.Probe->Health.Samples;
    return WaitWord(run, &run.Probe->Health.Samples, seen) && DriveHealth(&run, h);
}

std::string g_out;

// The automatic picture over the scene, and the scene's brightness under it;
// the screen is kept as OUTFOLDER\soak-NAME.bmp.
bool PictureShows(const DriveImage& automatic, const char* name, double* match, double* brightness)
{
    DriveImage screen;
    if (!DriveScreenshot(&screen))
        return false;
    DriveSaveBmp(screen, (g_out + "\\soak-" + name + ".bmp").c_str());
    *match = DriveMatch(screen, automatic, 40, true);
    double sum = 0;
    for (uint8_t b : screen.Bgr)
        sum += b;
    *brightness = sum / screen.Bgr.size();
    return *match >= SOAK_PICTURE_MATCH;
}

// Direct3D gives a texture its device copy when it is first drawn: the
// process grows with every television page shown for the first time. The
// warm-up lasts one whole round of the pages and one more change.
bool Warm(DriveRun& run)
{
    volatile int32_t* page = &run.Probe->Flags.TextPage;
    const int32_t first = *page;
    int32_t last = first;
    int changes = 0;
    bool round = false;
    for (int waited = 0; waited < SOAK_WARMUP_MAX_MS && Alive(run); waited += 50) {
        if (*page != last) {
            last = *page;
            changes++;
            if (round)
                return true;
            round = last == first;
        }
        Sleep(50);
    }
    Say("bf04soak: the television's pages did not go round (%d changes)\n", changes);
    return false;
}

bool Soak(DriveRun& run, int minutes, FILE* csv, std::vector<Sample>* samples)
{
    const int totalMs = minutes * 60000;
    int period = totalMs / SOAK_SAMPLES_MIN;
    period = period > SOAK_PERIOD_MAX_MS ? SOAK_PERIOD_MAX_MS : period < 1000 ? 1000 : period;
    fprintf(csv, "seconds,frames_per_second");
    for (const Series& s : kSeries)
        fprintf(csv, ",%s%s%s", s.Name, *s.Unit ? " " : "", s.Unit);
    fprintf(csv, "\n");
    const DWORD t0 = GetTickCount();
    for (;;) {
        Sample x;
        if (!Fresh(run, &x.Health)) {
            Say("bf04soak: the game stopped publishing its health\n");
            return false;
        }
        x.Seconds = (GetTickCount() - t0) / 1000.0;
        x.Frames = run.Probe->Frames;
        double fps = 0;
        if (!samples->empty())
            fps = (x.Frames - samples->back().Frames) / (x.Seconds - samples->back().Seconds);
        fprintf(csv, "%.1f,%.1f", x.Seconds, fps);
        for (const Series& s : kSeries)
            fprintf(csv, ",%.3f", x.Health.*s.Field * s.Scale);
        fprintf(csv, "\n");
        fflush(csv);
        samples->push_back(x);
        if (x.Seconds * 1000 >= totalMs)
            return true;
        Sleep(period);
    }
}

bool Judge(const std::vector<Sample>& s)
{
    const Sample &a = s.front(), &b = s.back();
    const double length = b.Seconds - a.Seconds;
    Say("soak: %zu samples over %.0f s (fps %.1f)\n", s.size(), length,
        length > 0 ? (b.Frames - a.Frames) / length : 0.0);
    // The looping music keeps the audio library mixing for the whole soak.
    size_t playing = 0;
    for (const Sample& x : s)
        playing += x.Health.Music == 1;
    Say("  music playing in %zu of %zu samples\n", playing, s.size());
    bool ok = playing == s.size();
    Say("  %-20s %12s %12s %14s %12s %12s\n", "", "start", "end", "slope per h", "rise", "tolerance");
    for (const Series& x : kSeries) {
        const double slope = Slope(s, x);
        const double rise = slope * length;
        const bool good = rise <= x.Tolerance;
        ok = ok && good;
        Say("  %-20s %12.1f %12.1f %14.2f %12.2f %12.2f %s%s\n", x.Name, a.Health.*x.Field * x.Scale,
            b.Health.*x.Field * x.Scale, slope * 3600 * x.Scale, rise * x.Scale, x.Tolerance * x.Scale, x.Unit,
            good ? "" : "  GROWS");
    }
    return ok;
}

// A reset that loses the scene's states leaves the world black under the
// picture: the brightness must stay near the first look's.
bool Bright(double now, double first)
{
    return fabs(now - first) < 0.3 * first + 8;
}

bool Cycles(DriveRun& run, HWND game, int cycles, const DriveImage& automatic)
{
    BF04_HEALTH before, after;
    double match, brightness0, brightness1;
    if (!Fresh(run, &before) || !PictureShows(automatic, "before-resets", &match, &brightness0)) {
        Say("reset cycles: the automatic picture is not on screen before the first (match %.2f)\n", match);
        return false;
    }
    volatile BF04_HEALTH* h = &run.Probe->Health;
    int looks = 0, dark = 0;
    for (int i = 0; i < cycles; i++) {
        DWORD_PTR result;
        const uint32_t lost = h->FramesLost, resets = h->DeviceResets;
        SendMessageTimeoutA(game, WM_ACTIVATEAPP, FALSE, 0, SMTO_ABORTIFHUNG, SOAK_STEP_MS, &result);
        const bool wasLost = WaitWord(run, &h->FramesLost, lost);
        // Coming back as from the task bar: Direct3D minimised the window
        // when the application lost the focus.
        SendMessageTimeoutA(game, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, SOAK_STEP_MS, &result);
        SendMessageTimeoutA(game, WM_ACTIVATEAPP, TRUE, 0, SMTO_ABORTIFHUNG, SOAK_STEP_MS, &result);
        const bool wasReset = WaitWord(run, &h->DeviceResets, resets);
        if (!wasLost || !wasReset) {
            Say("reset cycles: cycle %d: the device was %s\n", i + 1, wasLost ? "not reset" : "never lost");
            return false;
        }
        if ((i + 1) % SOAK_LOOK_EVERY == 0 && i + 1 < cycles) {
            Sleep(SOAK_SETTLE_MS);
            looks++;
            const std::string name = "during-resets-" + std::to_string(i + 1);
            if (!PictureShows(automatic, name.c_str(), &match, &brightness1) || !Bright(brightness1, brightness0)) {
                dark++;
                Say("reset cycles: after cycle %d the picture matches %.2f of the screen, brightness %.1f (soak-%s.bmp)\n",
                    i + 1, match, brightness1, name.c_str());
            }
        }
    }
    Sleep(SOAK_SETTLE_MS);
    const bool shows = PictureShows(automatic, "after-resets", &match, &brightness1);
    if (!Fresh(run, &after))
        return false;
    Say("reset cycles: %d, device resets %u, failed %u; the automatic picture matches %.2f of the screen, "
        "brightness %.1f before and %.1f after; %d of %d looks between them dark\n",
        cycles, after.DeviceResets - before.DeviceResets, after.ResetsFailed, match, brightness0, brightness1, dark,
        looks);
    bool ok = shows && after.ResetsFailed == 0 && after.DeviceResets - before.DeviceResets == (uint32_t)cycles &&
              Bright(brightness1, brightness0) && dark == 0;
    Say("  %-20s %12s %12s %12s %12s\n", "", "before", "after", "per cycle", "tolerance");
    for (const Series& x : kSeries) {
        const double grew = (double)(after.*x.Field) - (double)(before.*x.Field);
        const bool good = grew <= x.Tolerance;
        ok = ok && good;
        Say("  %-20s %12.1f %12.1f %12.3f %12.2f %s%s\n", x.Name, before.*x.Field * x.Scale,
            after.*x.Field * x.Scale, grew / cycles * x.Scale, x.Tolerance * x.Scale, x.Unit, good ? "" : "  GROWS");
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: bf04soak MINUTES OUTFOLDER [CYCLES]\n");
        return 2;
    }
    const int minutes = atoi(argv[1]);
    const int cycles = argc > 3 ? atoi(argv[3]) : SOAK_CYCLES;
    std::string out = g_out = argv[2];
    FILE* csv = fopen((out + "\\soak-curve.csv").c_str(), "w");
    g_report = fopen((out + "\\soak-report.txt").c_str(), "w");
    DriveImage automatic;
    if (!csv || !g_report || !DriveLoadBmp(&automatic, BF04_FIXTURES "\\automatic.bmp")) {
        fprintf(stderr, "bf04soak: cannot write into %s or read the automatic picture\n", out.c_str());
        return 2;
    }
    DriveRun run;
    HWND dialog;
    if (!DriveOpenGame(&run, &dialog, nullptr)) {
        DriveClose(&run);
        return 1;
    }
    DriveSetText(dialog, 1000, "soak");
    DriveClick(dialog, IDOK);   // full screen, the default
    for (int waited = 0; waited < SOAK_LOAD_MS && run.Probe->Frames < 3 && Alive(run); waited += 100)
        Sleep(100);
    HWND game = (HWND)(uintptr_t)run.Probe->Window;
    if (run.Probe->Frames < 3 || !game) {
        Say("bf04soak: the game did not start\n");
        DriveClose(&run);
        return 1;
    }
    Say("bf04soak: %d min of automatic mode, full screen, then %d lost and reset devices\n", minutes, cycles);
    DrivePress(game, 'A', 100);
    const DWORD warming = GetTickCount();
    std::vector<Sample> samples;
    bool ok = Warm(run);
    Say("bf04soak: warm-up of %.0f s (every television page shown once)\n", (GetTickCount() - warming) / 1000.0);
    ok = ok && Soak(run, minutes, csv, &samples) && samples.size() > 2;
    fclose(csv);
    ok = ok && Judge(samples);
    ok = Cycles(run, game, cycles, automatic) && ok;
    DrivePress(game, VK_ESCAPE, 100);
    Sleep(1000);
    DrivePress(game, VK_ESCAPE, 100);
    const int code = DriveWaitExit(&run, 60000);
    Say("game exit code %d; %s\n", code, ok && code == 0 ? "PASSED" : "FAILED");
    DriveClose(&run);
    fclose(g_report);
    return ok && code == 0 ? 0 : 1;
}
