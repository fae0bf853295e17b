// zqmod MODULE [SECONDS]: plays a 4-channel tracker module through the
// engine's own mixer and module player until the song ends (or SECONDS have
// passed), showing the position as it goes.
#include <cstdio>
#include <cstdlib>

#include "zarquel.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: zqmod MODULE [SECONDS]\n");
        return 2;
    }
    double seconds = argc == 3 ? atof(argv[2]) : 0;

    CZarquel* engine = new CZarquel;
    engine->Mem->InitHeap(32u << 20);
    // Read whole, as every engine loader does; a missing file is the file
    // service's fatal error.
    unsigned long file = engine->Xfs->OpenFile(argv[1]);
    unsigned long size = engine->Xfs->GetFileSize(file);
    void* module = engine->Mem->GetMem(size ? size : 1);
    unsigned long got = engine->Xfs->ReadFile(file, module, size);
    engine->Xfs->CloseFile(file);

    // DirectSound's exclusive level wants a window of this process.
    HWND window = CreateWindowA("STATIC", "zqmod", WS_POPUP, 0, 0, 16, 16, NULL, NULL, NULL, NULL);
    CZSnd* snd = engine->Snd;
    snd->InitSound(ZMOD_CHANNELS, 0, window);
    int status = 0;
    if (snd->Mod->LoadMemoryMod(module, uint32_t(got)) != 0) {
        fprintf(stderr, "zqmod: %s is no module (%lu bytes)\n", argv[1], got);
        status = 1;
    } else {
        CZMod* mod = snd->Mod;
        printf("%s: %lu bytes, %u orders, %u patterns (%u present)\n", argv[1], got, unsigned(mod->SongLength),
               unsigned(mod->PatternCount), unsigned(mod->PatternsPresent));
        mod->PlayMusic();
        DWORD start = GetTickCount();
        int lastOrder = -1;
        for (;;) {
            snd->Mixer_Lock();
            int state = mod->State, order = mod->OrderIndex, row = mod->Row, pattern = *mod->OrderEntry;
            snd->Mixer_Unlock();
            if (state == ZMOD_STOPPED)
                break;
            if (order != lastOrder) {
                printf("order %3d  pattern %3d  row %2d  %6.1f s\n", order, pattern, row,
                       (GetTickCount() - start) / 1000.0);
                fflush(stdout);
                lastOrder = order;
            }
            if (seconds > 0 && GetTickCount() - start >= DWORD(seconds * 1000))
                break;
            Sleep(20);
        }
        printf("%s after %.1f s\n", mod->State == ZMOD_STOPPED ? "song ended" : "stopped",
               (GetTickCount() - start) / 1000.0);
        mod->StopMusic();
        Sleep(100);
    }
    snd->DeinitSound();
    engine->Mem->FreeMem(module, size ? size : 1);
    DestroyWindow(window);
    delete engine;
    return status;
}
