// bench_game [--quick]: brolfest04 (its test build) in automatic mode at
// 640 x 480, windowed, driven from outside. Prints the start-up times
// (launch to the dialog, "Start" and launch to the first frame; the driver
// presses "Start" as soon as the dialog shows), frames per second (median
// of one-second windows) against the menu screen's rate measured in the same
// run, the tick interval's distribution while rendering, draw calls and
// batches per frame, the octree's faces against the level's, the frame's
// phases as the game's own cuts time them, and where the game's main thread
// spends its time: samples of its instruction pointer by module, and the
// engine's and game's busiest exported routines.
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cxxabi.h>
#include <map>
#include <string>
#include <vector>
#include "drive.h"

namespace {

struct Module {
    std::string Name;
    uintptr_t Base, Size;
};

std::vector<Module> Modules(HANDLE process)
{
    HMODULE handles[512];
    DWORD bytes = 0;
    std::vector<Module> out;
    if (!EnumProcessModules(process, handles, sizeof handles, &bytes))
        return out;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; i++) {
        MODULEINFO mi;
        char name[MAX_PATH];
        if (GetModuleInformation(process, handles[i], &mi, sizeof mi) &&
            GetModuleBaseNameA(process, handles[i], name, sizeof name))
            out.push_back({name, (uintptr_t)mi.lpBaseOfDll, mi.SizeOfImage});
    }
    return out;
}

// Exported routines of a DLL of this folder, by RVA (sorted), demangled.
std::vector<std::pair<uint32_t, std::string>> Exports(const char* dll)
{
    std::vector<std::pair<uint32_t, std::string>> out;
    HMODULE m = LoadLibraryExA(dll, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!m)
        return out;
    uint8_t* base = (uint8_t*)m;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY d = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!d.Size)
        return out;
    IMAGE_EXPORT_DIRECTORY* e = (IMAGE_EXPORT_DIRECTORY*)(base + d.VirtualAddress);
    uint32_t* names = (uint32_t*)(base + e->AddressOfNames);
    uint16_t* ordinals = (uint16_t*)(base + e->AddressOfNameOrdinals);
    uint32_t* functions = (uint32_t*)(base + e->AddressOfFunctions);
    for (DWORD i = 0; i < e->NumberOfNames; i++) {
        const char* mangled = (const char*)(base + names[i]);
        int status = 0;
        char* plain = abi::__cxa_demangle(mangled[0] == '_' && mangled[1] == '_' ? mangled + 1 : mangled, nullptr,
                                          nullptr, &status);
        out.push_back({functions[ordinals[i]], status == 0 && plain ? plain : mangled});
        free(plain);
    }
    std::sort(out.begin(), out.end());
    return out;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Frames per second in one-second windows over `seconds`, sampling the
// main thread's instruction pointer every few milliseconds meanwhile.
std::vector<double> Measure(const DriveRun& run, HANDLE thread, int seconds, std::vector<uintptr_t>* samples,
                            double* drawCalls, double* batches, double* faces, double* primitives)
{
    std::vector<double> fps;
    double calls = 0, buckets = 0, listed = 0, queued = 0;
    int n = 0;
    for (int s = 0; s < seconds; s++) {
        uint32_t f0 = run.Probe->Frames;
        DWORD t0 = GetTickCount();
        while (GetTickCount() - t0 < 1000) {
            Sleep(7);
            if (samples && SuspendThread(thread) != (DWORD)-1) {
                CONTEXT c = {};
                c.ContextFlags = CONTEXT_CONTROL;
                if (GetThreadContext(thread, &c))
                    samples->push_back(c.Eip);
                ResumeThread(thread);
            }
            calls += run.Probe->DrawCalls;
            buckets += run.Probe->Batches;
            listed += run.Probe->OctreeFaces;
            queued += run.Probe->Primitives;
            n++;
        }
        fps.push_back((run.Probe->Frames - f0) * 1000.0 / (GetTickCount() - t0));
    }
    *drawCalls = calls / n;
    *batches = buckets / n;
    *faces = listed / n;
    *primitives = queued / n;
    return fps;
}

// CPU seconds (kernel and user) of a thread so far.
double CpuSeconds(HANDLE thread)
{
    FILETIME created, ended, kernel, user;
    if (!thread || !GetThreadTimes(thread, &created, &ended, &kernel, &user))
        return 0;
    const auto seconds = [](FILETIME t) { return (((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

// The tick intervals written since `from` (the ring's last ones), sorted.
std::vector<uint32_t> Intervals(const DriveRun& run, uint32_t from)
{
    const uint32_t to = run.Probe->IntervalCount;
    if (to - from > BF04_PROBE_INTERVALS)
        from = to - BF04_PROBE_INTERVALS;
    std::vector<uint32_t> v;
    for (uint32_t i = from; i != to; i++)
        v.push_back(run.Probe->Interval[i % BF04_PROBE_INTERVALS]);
    std::sort(v.begin(), v.end());
    return v;
}

// The frame's phases per frame, and the tick's cost per frame, as the
// game's own cuts time them (bf04probe.h).
void Phases(const uint32_t* from, const uint32_t* to, uint32_t frames, uint32_t ticks, double fps)
{
    static const char* const names[BF04_CUTS] = {
        "snapshot under the game lock", "queuing (objects, octree, planes)", "sky, world, effects RenderScene",
        "overlay RenderScene and Present", "game tick (timer thread)"};
    if (!frames || !ticks)
        return;
    double ms[BF04_CUTS], frame = 0;
    for (int i = 0; i < BF04_CUTS; i++) {
        const uint32_t us = to[i] - from[i];
        ms[i] = us / 1000.0 / (i == BF04_CUT_TICK ? ticks : frames);
        if (i != BF04_CUT_TICK)
            frame += ms[i];
    }
    const double period = fps > 0 ? 1000.0 / fps : 0;
    printf("  frame phases, ms per frame (frame loop %.2f of a %.2f ms period):\n", frame, period);
    for (int i = 0; i < BF04_CUT_TICK; i++)
        printf("    %-38s %8.3f  %5.1f %%\n", names[i], ms[i], frame > 0 ? 100 * ms[i] / frame : 0.0);
    printf("    %-38s %8.3f ms per tick, %.3f ms per frame\n", names[BF04_CUT_TICK], ms[BF04_CUT_TICK],
           ms[BF04_CUT_TICK] * ticks / frames);
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && !strcmp(argv[1], "--quick");
    const int menuSeconds = quick ? 2 : 10, autoSeconds = quick ? 3 : 30;
    DriveRun run;
    HWND dialog;
    LARGE_INTEGER launch, shown;
    QueryPerformanceCounter(&launch);
    if (!DriveOpenGame(&run, &dialog, nullptr)) {
        DriveClose(&run);
        return 1;
    }
    QueryPerformanceCounter(&shown);
    DriveClick(dialog, 1002);   // windowed: any screen serves
    DriveClick(dialog, IDOK);
    for (int i = 0; i < 3000 && !run.Probe->FirstMenuFrameTime; i++)
        Sleep(100);
    HWND game = (HWND)(uintptr_t)run.Probe->Window;
    if (!run.Probe->FirstMenuFrameTime || !game) {
        fprintf(stderr, "bench_game: the game did not start\n");
        DriveClose(&run);
        return 1;
    }
    // One counter for every process of the machine.
    const double frequency = (double)run.Probe->CounterFrequency;
    const double startup = (run.Probe->FirstMenuFrameTime - run.Probe->StartTime) / frequency;
    const double toDialog = (shown.QuadPart - launch.QuadPart) / frequency;
    const double launched = (run.Probe->FirstMenuFrameTime - launch.QuadPart) / frequency;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                               run.Process.dwThreadId);

    double calls, batches, faces, primitives;
    std::vector<double> menu = Measure(run, thread, menuSeconds, nullptr, &calls, &batches, &faces, &primitives);
    DrivePress(game, 'A', 100);
    Sleep(2000);   // past the first view of the TV, onto the camera path
    std::vector<uintptr_t> samples;
    const uint32_t intervals0 = run.Probe->IntervalCount;
    uint32_t cuts0[BF04_CUTS], cuts1[BF04_CUTS];
    memcpy(cuts0, run.Probe->CutMicroseconds, sizeof cuts0);
    const uint32_t frames0 = run.Probe->CutFrames, ticks0 = run.Probe->Ticks;
    const double threadCpu0 = CpuSeconds(thread);
    BF04_HEALTH health0 = {};
    DriveHealth(&run, &health0);
    std::vector<double> automatic = Measure(run, thread, autoSeconds, &samples, &calls, &batches, &faces, &primitives);
    const double threadCpu = CpuSeconds(thread) - threadCpu0;
    memcpy(cuts1, run.Probe->CutMicroseconds, sizeof cuts1);
    const uint32_t frames = run.Probe->CutFrames - frames0, ticks = run.Probe->Ticks - ticks0;
    const std::vector<uint32_t> intervals = Intervals(run, intervals0);
    BF04_HEALTH health = {};
    DriveHealth(&run, &health);
    uint32_t levelFaces = run.Probe->LevelFaces;
    std::vector<Module> modules = Modules(run.Process.hProcess);
    DrivePress(game, VK_ESCAPE, 100);
    Sleep(500);
    DrivePress(game, VK_ESCAPE, 100);
    int code = DriveWaitExit(&run, 60000);

    double fpsAuto = Median(automatic), fpsMenu = Median(menu);
    printf("bench_game (windowed 640 x 480%s)\n", quick ? ", quick" : "");
    printf("  start-up, launch to the dialog         %8.2f s\n", toDialog);
    printf("  start-up, Start to the first frame     %8.2f s\n", startup);
    printf("  start-up, launch to the first frame    %8.2f s\n", launched);
    printf("  automatic mode, median of %2d s         %8.1f frames/s\n", autoSeconds, fpsAuto);
    printf("  menu screen, median of %2d s            %8.1f frames/s\n", menuSeconds, fpsMenu);
    printf("  automatic / menu                        %8.2f\n", fpsMenu > 0 ? fpsAuto / fpsMenu : 0.0);
    printf("  draw calls per frame                    %8.1f\n", calls);
    printf("  batches per frame                       %8.1f\n", batches);
    printf("  primitives drawn per frame              %8.0f\n", primitives);
    printf("  octree faces per frame / level faces    %8.0f / %u = %.2f\n", faces, levelFaces,
           levelFaces ? faces / levelFaces : 0.0);
    if (!intervals.empty())
        printf("  tick interval over %5zu ticks           p50 %.2f ms, p99 %.2f ms (nominal 6.67 ms)\n",
               intervals.size(), intervals[intervals.size() / 2] / 1000.0,
               intervals[intervals.size() * 99 / 100] / 1000.0);
    Phases(cuts0, cuts1, frames, ticks, fpsAuto);
    printf("  over the automatic mode: engine heap in use %.1f to %.1f MiB, private bytes %.1f to %.1f MiB, "
           "handles %u to %u\n",
           health0.HeapInUse / 1048576.0, health.HeapInUse / 1048576.0, health0.PrivateBytes / 1048576.0,
           health.PrivateBytes / 1048576.0, health0.Handles, health.Handles);

    // Where the main thread was: by module, then inside the engine and game.
    std::map<std::string, int> byModule;
    std::map<std::string, int> byRoutine;
    std::map<std::string, std::vector<std::pair<uint32_t, std::string>>> exports;
    for (const char* dll : {"zarquel.dll", "bass.dll"})
        exports[dll] = Exports(dll);
    for (uintptr_t ip : samples) {
        std::string where = "(outside PE modules: Wine's Unix side, GL, llvmpipe)";
        for (const Module& m : modules)
            if (ip >= m.Base && ip < m.Base + m.Size) {
                where = m.Name;
                auto& table = exports[m.Name];
                uint32_t rva = (uint32_t)(ip - m.Base);
                auto it = std::upper_bound(table.begin(), table.end(), std::make_pair(rva, std::string("\xff")));
                if (it != table.begin())
                    byRoutine[m.Name + ": " + std::prev(it)->second]++;
                else if (m.Name.find("brolfest04") == 0)
                    byRoutine[m.Name]++;
            }
        byModule[where]++;
    }
    std::vector<std::pair<int, std::string>> sorted;
    for (auto& kv : byModule)
        sorted.push_back({kv.second, kv.first});
    std::sort(sorted.rbegin(), sorted.rend());
    size_t total = samples.size() ? samples.size() : 1;
    int engine = 0, gameCode = 0;
    for (auto& kv : byModule) {
        if (kv.first == "zarquel.dll")
            engine += kv.second;
        if (kv.first.find("brolfest04") == 0)
            gameCode += kv.second;
    }
    printf("  main thread, %zu samples: engine %.1f %%, game %.1f %%, the rest Wine, GL and the rasteriser\n",
           samples.size(), 100.0 * engine / total, 100.0 * gameCode / total);
    // The samples land in the engine or the game only while their code
    // runs: their share of the wall time is their CPU time. The main thread
    // runs the engine, the game and Wine's Direct3D; the GL work happens on
    // other threads.
    if (frames) {
        const double period = 1000.0 * autoSeconds / frames;
        const double engineMs = period * engine / total;
        const double gameMs = period * gameCode / total;
        const double tickMs = (double)(cuts1[BF04_CUT_TICK] - cuts0[BF04_CUT_TICK]) / 1000.0 / frames;
        const double mainMs = 1000.0 * threadCpu / frames;
        printf("  CPU per frame: main thread %.2f ms, of it engine %.2f ms (%.1f %%) and game %.2f ms (%.1f %%); "
               "the game's tick %.2f ms on the timer thread\n",
               mainMs, engineMs, mainMs > 0 ? 100 * engineMs / mainMs : 0.0, gameMs,
               mainMs > 0 ? 100 * gameMs / mainMs : 0.0, tickMs);
    }
    for (size_t i = 0; i < sorted.size() && i < 8; i++)
        printf("    %5.1f %%  %s\n", 100.0 * sorted[i].first / total, sorted[i].second.c_str());
    sorted.clear();
    for (auto& kv : byRoutine)
        sorted.push_back({kv.second, kv.first});
    std::sort(sorted.rbegin(), sorted.rend());
    printf("  busiest engine and game routines (nearest export below the sample):\n");
    for (size_t i = 0; i < sorted.size() && i < 8; i++)
        printf("    %5.1f %%  %.100s\n", 100.0 * sorted[i].first / total, sorted[i].second.c_str());
    printf("  game exit code %d\n", code);
    if (thread)
        CloseHandle(thread);
    DriveClose(&run);
    return code == 0 ? 0 : 1;
}
