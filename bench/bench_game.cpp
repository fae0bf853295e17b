// bench_game [--quick]: brolfest04 (its test build) in automatic mode at
// 640 x 480, windowed, driven from outside. Prints the start-up time from
// "Start" to the first frame, frames per second (median of one-second
// windows) against the menu screen's rate measured in the same run, draw
// calls and batches per frame, the octree's faces against the level's, and
// where the game's main thread spends its time: samples of its instruction
// pointer by module, and the engine's and game's busiest exported routines.
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
                            double* drawCalls, double* batches, double* faces)
{
    std::vector<double> fps;
    double calls = 0, buckets = 0, listed = 0;
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
            n++;
        }
        fps.push_back((run.Probe->Frames - f0) * 1000.0 / (GetTickCount() - t0));
    }
    *drawCalls = calls / n;
    *batches = buckets / n;
    *faces = listed / n;
    return fps;
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && !strcmp(argv[1], "--quick");
    const int menuSeconds = quick ? 2 : 10, autoSeconds = quick ? 3 : 30;
    DriveRun run;
    HWND dialog;
    if (!DriveOpenGame(&run, &dialog, nullptr)) {
        DriveClose(&run);
        return 1;
    }
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
    double startup = (double)(run.Probe->FirstMenuFrameTime - run.Probe->StartTime) / run.Probe->CounterFrequency;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, run.Process.dwThreadId);

    double calls, batches, faces;
    std::vector<double> menu = Measure(run, thread, menuSeconds, nullptr, &calls, &batches, &faces);
    DrivePress(game, 'A', 100);
    Sleep(2000);   // past the first view of the TV, onto the camera path
    std::vector<uintptr_t> samples;
    std::vector<double> automatic = Measure(run, thread, autoSeconds, &samples, &calls, &batches, &faces);
    uint32_t levelFaces = run.Probe->LevelFaces;
    std::vector<Module> modules = Modules(run.Process.hProcess);
    DrivePress(game, VK_ESCAPE, 100);
    Sleep(500);
    DrivePress(game, VK_ESCAPE, 100);
    int code = DriveWaitExit(&run, 60000);

    double fpsAuto = Median(automatic), fpsMenu = Median(menu);
    printf("bench_game (windowed 640 x 480%s)\n", quick ? ", quick" : "");
    printf("  start-up, Start to the first frame     %8.2f s\n", startup);
    printf("  automatic mode, median of %2d s         %8.1f frames/s\n", autoSeconds, fpsAuto);
    printf("  menu screen, median of %2d s            %8.1f frames/s\n", menuSeconds, fpsMenu);
    printf("  automatic / menu                        %8.2f\n", fpsMenu > 0 ? fpsAuto / fpsMenu : 0.0);
    printf("  draw calls per frame                    %8.1f\n", calls);
    printf("  batches per frame                       %8.1f\n", batches);
    printf("  octree faces per frame / level faces    %8.0f / %u = %.2f\n", faces, levelFaces,
           levelFaces ? faces / levelFaces : 0.0);

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
    int ours = 0;
    for (auto& kv : byModule)
        if (kv.first == "zarquel.dll" || kv.first.find("brolfest04") == 0)
            ours += kv.second;
    printf("  main thread, %zu samples: engine and game %.1f %%, the rest Wine, GL and the rasteriser\n",
           samples.size(), 100.0 * ours / total);
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
