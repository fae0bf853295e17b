// The frame loop (main thread): a snapshot under the game lock, then four
// passes (sky, world, effects, overlay), each ending in RenderScene; only
// the last presents.
#include "actors.h"
#include "bf04.h"
#include "camerapath.h"

#define FRAME_SKY_FAR 1050.0f
#define FRAME_WORLD_FAR 380.0f
#define FRAME_NEAR 0.1f
#define FRAME_FOV_X 60.0f
#define FRAME_FOV_Y 45.0f

// Test build: the time since the last cut goes to a phase (bf04probe.h).
#define FRAME_CUT(phase) BF04_PROBE_DO(ProbeCut(phase))

// The renderer's counters summed over a frame's passes (each RenderScene
// starts them afresh).
struct FrameCounts {
    uint32_t DrawCalls = 0, Batches = 0, Primitives = 0;
    void Add(const CZH3d* h3d)
    {
        DrawCalls += h3d->FrameDrawCalls;
        Batches += h3d->FrameBatches;
        Primitives += h3d->FramePrimitives;
    }
};

// Ends a pass: what came before was queuing, the render goes to `phase`.
static void FRAME_RenderPass(int phase)
{
    FRAME_CUT(BF04_CUT_QUEUE);
    G.Engine->Vgs->RenderScene(nullptr, nullptr);
    FRAME_CUT(phase);
    (void)phase;   // only the test build times the phases
}

struct FrameSnapshot {
    Player Player1;
    BF04_FLAGS F;
    unsigned long ScreenPicture;
};

static void FRAME_Overlay(const FrameSnapshot& s)
{
    CZGfx* gfx = G.Engine->Gfx;
    CZH3d* h3d = G.Engine->H3d;
    const GameAssets& a = G.A;
    if (s.F.MenuShown) {
        gfx->SetMaterialPlane2d(a.ScreenPlane, s.ScreenPicture, 0, 8);
        // Writing the alpha rewrites the texture: only when it changed.
        if (s.F.MenuAlpha != G.LastAlpha) {
            h3d->SetAlphaLevelTexture(s.ScreenPicture, (unsigned char)s.F.MenuAlpha);
            G.LastAlpha = s.F.MenuAlpha;
        }
        gfx->DrawPlane2d(a.ScreenPlane, false, false, false);
    } else if (s.F.StartBanner) {
        gfx->SetMaterialPlane2d(a.ScreenPlane, a.StartPicture, 0, 1);
        float scale = 1.0f + G.Engine->Mth->Rnd() / 65536.0f;
        gfx->ScalePlane2d(a.ScreenPlane, scale, scale);
        gfx->DrawPlane2d(a.ScreenPlane, false, false, true);
    }
    if (s.F.Automatic) {
        gfx->SetMaterialPlane2d(a.ScreenPlane, a.AutomaticPicture, 0, 1);
        gfx->DrawPlane2d(a.ScreenPlane, false, false, false);
    }
    if (!s.F.MenuShown)
        DrawRunOverlay(s.F.WinCountdown > 0 && !s.F.Automatic, !s.F.Automatic);
    ApplyHudScroll();
    G.Engine->O3d->DrawAllObject(a.HudFrame, 0);
    G.Engine->Vgs->SetPresent(true);
    h3d->SetBilinealFiltering(false);
    FRAME_RenderPass(BF04_CUT_PRESENT);
    h3d->SetBilinealFiltering(true);
}

// One frame; returns with it presented.
static void FRAME_Draw()
{
    CZarquel* e = G.Engine;
    CZH3d* h3d = e->H3d;
    CZVgs* vgs = e->Vgs;
    const GameAssets& a = G.A;
    FrameSnapshot s;
    FrameCounts counts;

    FRAME_CUT(-1);
    EnterCriticalSection(&G.Lock);
    s.Player1 = P1;
    s.F = G.F;
    s.ScreenPicture = G.ScreenPicture;
    Vector3 eye = P1.Eye, target = P1.Target;
    bool tvView = false;
    if (s.F.Automatic) {
        P1.Position = {PLAYER_TV_X, PLAYER_TV_Y, PLAYER_TV_Z};
        P1.HeadingTarget = PLAYER_TV_HEADING;
        if (s.F.PageView == 0) {
            eye = G.Path1->Eval(s.F.AutoPathPosition);
            eye.y += 3.0f;
            target = G.Path1->Eval(s.F.AutoPathPosition + 0.01f);
            target.y += 2.0f;
        } else {
            tvView = true;
        }
    }
    BF04_PROBE_DO(P->FrameTick = P->Ticks; P->ViewingTv = tvView; ProbeFollowCamera(&eye, &target));
    (void)tvView;
    LeaveCriticalSection(&G.Lock);
    h3d->SetCameraPosition(&eye, &target, nullptr);
    FRAME_CUT(BF04_CUT_SNAPSHOT);

    // Sky.
    h3d->SetClearZBuffer(true);
    vgs->SetClearBackBuffer(true);
    vgs->SetPresent(false);
    h3d->SetProyectionParams(FRAME_NEAR, FRAME_SKY_FAR, FRAME_FOV_X, FRAME_FOV_Y);
    e->O3d->SetObjectPosition(a.Sky, 0.0f, 50.0f, 0.0f);
    e->O3d->DrawAllObject(a.Sky, 1);
    h3d->DisableFog();
    vgs->ClearColor = 0;
    FRAME_RenderPass(BF04_CUT_SCENE);
    counts.Add(h3d);

    // World: the level through its octree, the TV showing the current page
    // over the current noise, the soldiers and the player.
    vgs->SetPresent(false);
    h3d->SetClearZBuffer(false);
    h3d->SetProyectionParams(FRAME_NEAR, FRAME_WORLD_FAR, FRAME_FOV_X, FRAME_FOV_Y);
    vgs->SetClearBackBuffer(false);
    h3d->EnableFog();
    e->O3d->SetMaterialTextured(a.Scene, BF04_TV_MATERIAL, BF04_TV_FLAGS, a.TextPage[s.F.TextPage],
                                a.Noise[s.F.NoiseFrame], 0);
    uint32_t listed = e->OctreeAABB->FacesListed;
    e->OctreeAABB->DrawAABBObject(a.SceneOctree);
    listed = e->OctreeAABB->FacesListed - listed;
    for (int i = 0; i < G.SoldierCount; i++)
        G.Soldiers[i]->Draw();
    if (!s.F.Won && !s.F.Automatic)
        DrawPlayer(s.Player1);
    FRAME_RenderPass(BF04_CUT_SCENE);
    counts.Add(h3d);

    // Effects: shots, explosions, shadows.
    vgs->SetClearBackBuffer(false);
    h3d->SetClearZBuffer(false);
    h3d->DisableFog();
    vgs->SetPresent(false);
    G.Shots->Draw();
    if (!s.F.Won && !s.F.Automatic)
        DrawPlayerShadow(s.Player1);
    for (int i = 0; i < G.SoldierCount; i++)
        G.Soldiers[i]->DrawShadow();
    FRAME_RenderPass(BF04_CUT_SCENE);
    counts.Add(h3d);

    FRAME_Overlay(s);
    counts.Add(h3d);

    BF04_PROBE_DO(ProbeFrameEnded(); P->Frames++; P->DrawCalls = counts.DrawCalls; P->Batches = counts.Batches; P->Primitives = counts.Primitives;
                  P->OctreeFaces = listed; P->Eye[0] = eye.x; P->Eye[1] = eye.y; P->Eye[2] = eye.z; P->Target[0] = target.x;
                  P->Target[1] = target.y; P->Target[2] = target.z;
                  if (!P->FirstMenuFrameTime) {
                      LARGE_INTEGER now;
                      QueryPerformanceCounter(&now);
                      P->FirstMenuFrameTime = now.QuadPart;
                  });
    (void)counts;
    (void)listed;
}

void FrameLoop()
{
    uint32_t resets = G.Engine->Vgs->DeviceResets;
    for (;;) {
        EnterCriticalSection(&G.Lock);
        int quit = G.F.Quit;
        LeaveCriticalSection(&G.Lock);
        if (quit || !G.Engine->StillAlive())
            break;
        // StillAlive speaks of the last pass only, and a reset may come in
        // any of the four: the display's count tells.
        if (G.Engine->Vgs->DeviceResets != resets) {
            resets = G.Engine->Vgs->DeviceResets;
            ApplyRendererSettings();
        }
        FRAME_Draw();
    }
}
