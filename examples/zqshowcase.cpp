// zqshowcase: the engine's application services together. A world loaded
// from a scene file (CZW3d), two particle systems (a fountain and a turning
// ring, CZParts), sprites (CZSpr) and a line of text in a bitmap font
// (CZFnt), seen from a camera flying round the world.
//
//   zqshowcase [--shots DIR] [--seconds N] [CONTAINER]
//
// CONTAINER defaults to "showcase.tmf" (written by the host build into
// build/host/showcase). With --shots the run is headless and fixed: frames
// 0 to 89 on a frame clock, the back buffer of frames 30, 60 and 89 written
// to DIR/shot1.bmp .. shot3.bmp, then it ends. Otherwise it runs N seconds
// (default 20) or until Esc.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zarquel.h"

#define SHOW_SHOT_FRAMES 90
#define SHOW_FOUNTAIN_DROPS 400
#define SHOW_RING_POINTS 120
static const int SHOW_SHOTS[3] = {30, 60, 89};

// The back buffer as a 24-bit BMP.
static bool SHOW_SaveShot(IDirect3DDevice9* device, const std::string& path)
{
    IDirect3DSurface9 *back = nullptr, *copy = nullptr;
    D3DSURFACE_DESC desc;
    bool ok = false;
    if (device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back) != D3D_OK)
        return false;
    back->GetDesc(&desc);
    D3DLOCKED_RECT lr;
    if (device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy, NULL) ==
            D3D_OK &&
        device->GetRenderTargetData(back, copy) == D3D_OK && copy->LockRect(&lr, NULL, D3DLOCK_READONLY) == D3D_OK) {
        FILE* f = fopen(path.c_str(), "wb");
        if (f) {
            const uint32_t w = desc.Width, h = desc.Height, row = (w * 3 + 3) & ~3u;
            uint8_t head[54] = {'B', 'M'};
            auto put = [&head](int at, uint32_t v) { memcpy(head + at, &v, 4); };
            put(2, 54 + row * h), put(10, 54), put(14, 40), put(18, w), put(22, h);
            head[26] = 1, head[28] = 24;
            fwrite(head, 1, sizeof(head), f);
            uint8_t line[4 * 2048] = {};
            for (int y = (int)h - 1; y >= 0; y--) {
                const uint8_t* src = (const uint8_t*)lr.pBits + y * lr.Pitch;
                for (uint32_t x = 0; x < w && x < 2048; x++) {
                    uint32_t p;
                    if (desc.Format == D3DFMT_R5G6B5) {
                        const uint16_t q = ((const uint16_t*)src)[x];
                        p = ((q >> 11) * 255 / 31) << 16 | (((q >> 5) & 63) * 255 / 63) << 8 | (q & 31) * 255 / 31;
                    } else {
                        p = ((const uint32_t*)src)[x];
                    }
                    line[x * 3] = p & 255, line[x * 3 + 1] = (p >> 8) & 255, line[x * 3 + 2] = (p >> 16) & 255;
                }
                fwrite(line, 1, row, f);
            }
            ok = fclose(f) == 0;
        }
        copy->UnlockRect();
    }
    if (copy)
        copy->Release();
    back->Release();
    return ok;
}

int main(int argc, char** argv)
{
    std::string shots, container = "showcase.tmf";
    int seconds = 20;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--shots") && i + 1 < argc)
            shots = argv[++i];
        else if (!strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = atoi(argv[++i]);
        else
            container = argv[i];
    }
    const bool headless = !shots.empty();

    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(64u << 20);
    char title[] = "Zarquel showcase";
    HWND window;
    z->Vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    z->Vgs->SelectGraphMode(640, 480, 0, 0, title, &window, 1, 0, ZVGS_DEPTH_TRUE);
    z->H3d->Init();
    z->Vgs->CreateLayer3D();
    z->Vgs->ClearColor = 0xFF000010;
    z->H3d->SetCullingState(false, false);
    z->Xfs->OpenMasterFile(container.c_str());
    z->O3d->InitCache(1000);
    z->Gfx->Init();

    // The world: twelve objects in a ring round a floor slab.
    CZW3d* w3d = z->W3d;
    if (!w3d->LoadScene("world.txt")) {
        fprintf(stderr, "zqshowcase: the scene did not load\n");
        return 1;
    }
    for (unsigned long slot = 0, ring = 0; slot < ZW3D_MAX_OBJECTS; slot++) {
        const unsigned long object = w3d->GetObjectHandle(slot);
        if (object == ZW3D_FREE)
            continue;
        Vector3 at = {0, -0.6f, 0};
        if (strcmp(w3d->Keys[slot], "floorslab")) {
            const float a = ring++ * 6.2831853f / 12;
            at = {cosf(a) * 5, 0.6f, sinf(a) * 5};
        }
        w3d->SetObjectPosition(slot, &at);
    }

    // Particles: a fountain in the middle and a turning ring above it.
    CZParts* parts = z->Parts;
    const unsigned long dot = z->H3d->LoadTextureFromFile((char*)"dot.bmp");
    const unsigned long fountain = parts->CreateSystem(SHOW_FOUNTAIN_DROPS);
    const unsigned long ring = parts->CreateSystem(SHOW_RING_POINTS);
    parts->SetSystemTexture(fountain, dot);
    parts->SetSystemTexture(ring, dot);
    parts->SetSubtype(fountain, ZRF_ADDITIVE);
    parts->SetSubtype(ring, ZRF_ADDITIVE);
    Vector3 base = {0, 3.0f, 0};
    parts->SetSystemBase(ring, &base);
    for (int i = 0; i < SHOW_RING_POINTS; i++) {
        const float a = i * 6.2831853f / SHOW_RING_POINTS;
        Vector3 p = {cosf(a) * 2.5f, 0, sinf(a) * 2.5f}, still = {0, 0, 0}, spin = {0, 2, 0};
        parts->InsertParts(ring, &p, &still);
        parts->SetParticleRotation(ring, i, &spin);
    }
    z->H3d->SetPointSizes(0.35f, 0.0f);

    const unsigned long page = z->Spr->LoadSpritesPage("sprites.spr", 0);
    z->Fnt->Init(4);
    const unsigned long font = z->Fnt->LoadFont((char*)"font.fnt");
    const unsigned long glyphs = z->H3d->LoadTextureFromFile((char*)"font.bmp");
    z->Fnt->SetTexture(font, glyphs, ZRF_ADDITIVE);
    z->Fnt->SetBaseSize(font, 256.0f);
    z->Fnt->SetAlignement(ZFNT_ALIGN_CENTRE);

    uint32_t seed = 12345;
    auto rnd = [&seed]() { return (seed = seed * 1103515245u + 12345u) >> 8 & 0xFFFF; };
    const DWORD start = GetTickCount();
    unsigned long drawn = 0, culled = 0, shot = 0;
    bool ok = true;
    for (int frame = 0;; frame++) {
        if (headless ? frame >= SHOW_SHOT_FRAMES : (GetTickCount() - start >= (DWORD)seconds * 1000 ||
                                                    z->Kbd->KeyState(VK_ESCAPE)))
            break;
        const float t = headless ? frame / 30.0f : (GetTickCount() - start) / 1000.0f;
        // Four new drops a frame until the fountain is full; gravity on all.
        for (int k = 0; k < 4; k++) {
            Vector3 p = {0, 0, 0};
            Vector3 d = {(rnd() / 65536.0f - 0.5f) * 0.08f, 0.16f + rnd() / 65536.0f * 0.04f,
                         (rnd() / 65536.0f - 0.5f) * 0.08f};
            parts->InsertParts(fountain, &p, &d);
        }
        Vector3 gravity = {0, -0.006f, 0};
        parts->ModifyDirection(fountain, &gravity);
        parts->MoveSystem(fountain);
        parts->RotateSystem(ring);

        Vector3 eye = {cosf(t * 0.4f) * 11, 4.0f + sinf(t * 0.3f), sinf(t * 0.4f) * 11};
        Vector3 dir = {-eye.x, 1.0f - eye.y, -eye.z};
        const float len = sqrtf(dir.x * dir.x + dir.y * dir.y + dir.z * dir.z);
        dir = {dir.x / len, dir.y / len, dir.z / len};
        w3d->SetCameraPos(&eye, &dir, nullptr, 60.0f);
        w3d->RenderWorld();
        drawn += w3d->ObjectsDrawn;
        culled += w3d->ObjectsCulled;
        parts->DrawSystem(fountain);
        parts->DrawSystem(ring);
        for (int s = 0; s < 4; s++) {
            const float a = s * 1.5707963f + t;
            z->Spr->DrawSprite(page, s % 2, cosf(a) * 3.5f, 2.2f, sinf(a) * 3.5f, ZRF_ALPHATEST);
        }
        z->Fnt->DrawString(font, 320, 16, (char*)"ZARQUEL SHOWCASE %d", frame);
        const bool take = headless && shot < 3 && frame == SHOW_SHOTS[shot];
        z->Vgs->SetPresent(!take);
        z->Vgs->RenderScene(nullptr, nullptr);
        if (take) {
            const std::string path = shots + "\\shot" + std::to_string(++shot) + ".bmp";
            ok = SHOW_SaveShot(z->Vgs->Device, path) && ok;
        }
    }
    printf("zqshowcase: %lu objects drawn, %lu culled by the view cone, %u points, %u glyphs%s\n", drawn, culled,
           parts->PointsQueued, z->Fnt->GlyphsDrawn, headless ? (ok ? ", 3 screenshots" : ", screenshots FAILED") : "");
    z->Spr->FreeSpritesPage(page);
    z->H3d->UnloadTexture(dot);
    z->H3d->UnloadTexture(glyphs);
    w3d->FreeScene();
    delete z;
    return ok ? 0 : 1;
}
