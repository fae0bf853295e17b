// brolfest04: the start dialog, then the main routine: the engine, the
// assets, the game objects, the tick, the frame loop and the tear-down.
#include "actors.h"
#include "bf04.h"
#include "camerapath.h"
#include "soundplayer.h"

Game G;

#define MAIN_FIRST_FRAMES 200         // frames shown while the window settles
#define MAIN_END_FRAMES 50            // end picture: 50 x 100 ms
#define MAIN_END_FRAME_MS 100
#define MAIN_O3D_CACHE 25000          // vertices of the object transform cache
#define MAIN_FSF_BYTES 0x200000       // PCX decoding buffer
#define MAIN_OCTREE_FACES 25000

static const char* const kSamples[] = {"data\\sounds\\disparo.wav", "data\\sounds\\start.wav",
                                       "data\\sounds\\explosion.wav", "data\\sounds\\walk2.wav",
                                       "data\\sounds\\complete.wav", "data\\sounds\\argh.wav",
                                       "data\\sounds\\tiagrita.wav"};

static CameraPath* MAIN_Path(const char* name)
{
    CameraPath* path = new CameraPath;
    path->Engine = G.Engine;
    path->Load(name);
    path->SetSegments(CAMERAPATH_SEGMENTS);
    path->Eval(0.1f);
    return path;
}

// A device reset puts the renderer's defaults back (fog settings gone,
// filters off): the frame loop applies these again after one.
void ApplyRendererSettings()
{
    CZH3d* h3d = G.Engine->H3d;
    h3d->SetMipMapping(true);
    h3d->SetAntialias(true);
    h3d->SetBilinealFiltering(true);
    h3d->SetCullingState(true, true);
    h3d->SetZBufferState(true);
    h3d->SetProyectionParams(1.0f, 380.0f, 60.0f, 45.0f);
    h3d->SetFog(0, 30.0f, 100.0f);
    h3d->EnableFog();
    G.Engine->Vgs->ClearColor = 0;
    h3d->SetPointSizes(1.0f, 2.0f);
}

static void MAIN_TearDown()
{
    CZarquel* e = G.Engine;
    BF04_PROBE_DO(P->TearDown = 1);
    unsigned long plane = e->O3d->CreatePlane2d(640, 480, 0);
    e->O3d->SetMaterialTexturedTrans(plane, 0, 0, G.A.EndPicture, 0);
    for (int i = 0; i < MAIN_END_FRAMES; i++) {
        Sleep(MAIN_END_FRAME_MS);
        e->O3d->DrawAllObject(plane, 0);
        e->Vgs->RenderScene(nullptr, nullptr);
    }
    e->Vti->TimerRoutine(nullptr);
    G.Sound->Stop();
    Sleep(200);
    DeleteCriticalSection(&G.Lock);
    delete G.Path1;
    delete G.Path2;
    ReleaseAssets();
    e->Vgs->DestroyLayer3D(G.Layer);
    delete e;
    G.Engine = nullptr;
}

int GameMain(HINSTANCE instance, int showCommand)
{
    G.Sound = new SoundPlayer;
    CZarquel* e = G.Engine = new CZarquel;
    BF04_PROBE_DO(P->EngineCreated = 1);
    e->Mem->InitHeap(BF04_HEAP_BYTES);

    int windowed = G.FullScreen ? 0 : 1;
    char title[] = "MORVA - Brolfest'04 Invitation Demo";
    e->Vgs->Init(instance, showCommand);
    e->Vgs->SelectGraphMode(640, 480, 0, 0, title, &G.Window, windowed, 0, ZVGS_DEPTH_16);
    BF04_PROBE_DO(P->Windowed = windowed; P->Window = (uint32_t)(uintptr_t)G.Window);
    for (int i = 0; i < MAIN_FIRST_FRAMES; i++) {
        e->Vgs->RenderScene(nullptr, nullptr);
        ShowWindow(G.Window, SW_SHOWNORMAL);
        SetFocus(G.Window);
    }

    e->H3d->Init();
    e->O3d->InitCache(MAIN_O3D_CACHE);
    e->O3d->FloatAngles = 1;              // object angles stay unrounded
    e->O3d->SetInterpolationMethod(1);
    e->Fsf->Init(MAIN_FSF_BYTES);
    e->OctreeAABB->Init(MAIN_OCTREE_FACES);
    G.Layer = e->Vgs->CreateLayer3D();
    e->Vgs->SetLayerProperty(G.Layer, 1, 0, 0);

    ApplyRendererSettings();
    e->Vgs->RenderScene(nullptr, nullptr);

    e->Xfs->OpenMasterFile("data.tmf");
    G.PcxBuffer = (unsigned char*)e->Mem->GetMem(BF04_PCX_BYTES);
    G.PcxPalette = (unsigned char*)e->Mem->GetMem(BF04_PALETTE_BYTES);
    LoadAssets();
    BF04_PROBE_DO(P->AssetsLoaded = 1; P->LevelFaces = e->O3d->GetNumberOfFaces(G.A.Scene));

    G.Sound->Engine = e;
    G.Sound->LoadMusic("data\\bf04c.xm");
    unsigned long* samples[] = {&G.SampleShot, &G.SampleStart, &G.SampleExplosion, &G.SampleWalk,
                                &G.SampleComplete, &G.SampleArgh, &G.SampleDeath};
    for (int i = 0; i < 7; i++)
        *samples[i] = G.Sound->LoadSample(kSamples[i]);

    ResetPlayer();
    P1.LastTick = 0xFFFFFFFFu;
    G.F.MenuShown = 1;
    G.F.MenuFadeState = BF04_FADE_IN;
    G.F.MenuAlpha = 255;
    G.F.MenuHold = BF04_MENU_HOLD_FIRST;
    G.F.PageCountdown = BF04_PAGE_TICKS;
    G.ScreenPicture = G.A.MenuPicture;
    G.LastAlpha = -1;

    G.Shots = new ShotManager;
    G.Shots->Engine = e;
    G.Shots->FlareTexture = G.A.Flare;
    G.Shots->SoldierList = G.Soldiers;

    G.Path1 = MAIN_Path("data\\camera1.tcp");
    G.Path2 = MAIN_Path("data\\camera2.tcp");
    for (int i = 0; i < BF04_SOLDIERS; i++)
        G.Soldiers[G.SoldierCount++] = new Soldier(G.A.SoldierWeapon, G.A.SoldierBody, e, G.Path1, G.Shots);

    InitializeCriticalSection(&G.Lock);
    G.Sound->Start();
    e->Vti->TimerRoutine((void*)GameTick);
    BF04_PROBE_DO(P->TimerStarted = 1);

    FrameLoop();
    MAIN_TearDown();
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    int start = RunStartDialog(instance);
    BF04_PROBE_DO(P->DialogDone = start ? 1 : 2; lstrcpynA(P->Handle, G.Handle, sizeof P->Handle);
                  LARGE_INTEGER now; QueryPerformanceCounter(&now); P->StartTime = now.QuadPart);
    int code = start ? GameMain(instance, showCommand) : 0;
    BF04_PROBE_DO(P->ExitCode = code);
    return code;
}
