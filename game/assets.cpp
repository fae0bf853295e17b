// The twenty assets, loaded from the master file in their order, and their
// release at the end.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <d3d9.h>
#include "bf04.h"

// Every frame of an animated model made current, scaled down to scene units
// and given fresh normals (the weapon of a soldier gets its normals first).
// Returns the farthest any vertex of any frame lies from the origin.
static float ASSET_PrepareFrames(unsigned long object, bool normalsFirst)
{
    CZO3d* o3d = G.Engine->O3d;
    if (normalsFirst)
        o3d->RecalcNormals(object, 1);
    unsigned long frames = o3d->GetNumberFrames(object);
    const unsigned long vertices = o3d->GetNumberVertex(object);
    float reach = 0.0f;
    for (unsigned long i = 0; i < frames; i++) {
        o3d->SetActualFrame(object, i, 0.0f, (int)(i + 1));
        o3d->ScaleObject(object, 0.05f);
        if (!normalsFirst)
            o3d->RecalcNormals(object, 1);
        const Vector3* v = (const Vector3*)o3d->GetVertexPointer(object);
        for (unsigned long k = 0; k < vertices; k++)
            reach = std::max(reach, v[k].x * v[k].x + v[k].y * v[k].y + v[k].z * v[k].z);
    }
    return sqrtf(reach);
}

static unsigned long ASSET_Model(const char* object, const char* materials, unsigned long* materialSet)
{
    unsigned long handle = G.Engine->O3d->LoadObject(object);
    *materialSet = G.Engine->O3d->LoadMaterials(handle, materials);
    return handle;
}

// The size is asked first: a damaged header may name an image larger than
// the buffer, which the decoder would fill past its end, or one of another
// size than its texture, whose alpha would then be read from stale bytes
// or past the buffer.
void LoadAlphaMap(unsigned long texture, const char* pcx)
{
    CZFsf* fsf = G.Engine->Fsf;
    const unsigned long pixels = fsf->ReadPcxFile(pcx, nullptr, nullptr);
    D3DSURFACE_DESC desc = {};
    // A texture handle is its Direct3D interface.
    ((IDirect3DTexture9*)(uintptr_t)texture)->GetLevelDesc(0, &desc);
    if (pixels > BF04_PCX_BYTES || pixels != desc.Width * desc.Height) {
        char text[400];
        snprintf(text, sizeof text, "Imagen PCX de %lu pixels para una textura de %ux%u: %s", pixels, desc.Width,
                 desc.Height, pcx);
        G.Engine->Debug->ShowMessageAndExit(text, BF04_CAPTION);
    }
    fsf->ReadPcxFile(pcx, G.PcxBuffer, G.PcxPalette);
    G.Engine->H3d->SetAlphaMapTexture(texture, G.PcxBuffer);
}

void LoadAssets()
{
    CZO3d* o3d = G.Engine->O3d;
    CZH3d* h3d = G.Engine->H3d;
    CZGfx* gfx = G.Engine->Gfx;
    GameAssets& a = G.A;
    char name[64];

    a.Sky = o3d->LoadObject("data\\envmap\\env.3do");
    o3d->ScaleObject(a.Sky, 15.0f);
    a.SkyMaterials = o3d->LoadMaterials(a.Sky, "data\\envmap\\env.material");

    a.SoldierBody = ASSET_Model("data\\soldier\\soldier.3do", "data\\soldier\\soldier.material", &a.SoldierBodyMaterials);
    const float body = ASSET_PrepareFrames(a.SoldierBody, false);
    a.SoldierWeapon = ASSET_Model("data\\soldier\\weapon.3do", "data\\soldier\\weapon.material", &a.SoldierWeaponMaterials);
    a.SoldierReach = std::max(body, ASSET_PrepareFrames(a.SoldierWeapon, true));

    a.Scene = o3d->LoadObject("data\\scene\\scene.3do");
    o3d->RecalcNormals(a.Scene, 1);
    a.SceneMaterials = o3d->LoadMaterials(a.Scene, "data\\scene\\scene.material");
    a.SceneOctree = G.Engine->OctreeAABB->LoadAABBOctree(a.Scene, "data\\scene\\scene.oct");
    o3d->SetObjectAngles(a.Scene, 0.0f, 0.0f, 0.0f);
    o3d->SetObjectPosition(a.Scene, 0.0f, 0.0f, 0.0f);

    a.ShotLight = h3d->LoadTextureFromFile((char*)"data\\light\\luz2d2.jpg");
    a.LightFalloff = h3d->LoadTextureFromFile((char*)"data\\light\\luz1d2.jpg");
    a.ExplosionLight = h3d->LoadTextureFromFile((char*)"data\\light\\fire2d.jpg");
    a.Flare = h3d->LoadTextureFromFile((char*)"data\\disparo\\flare2.jpg");

    a.PlayerBody = ASSET_Model("data\\player\\player.3do", "data\\player\\player.material", &a.PlayerBodyMaterials);
    ASSET_PrepareFrames(a.PlayerBody, false);
    a.PlayerWeapon = ASSET_Model("data\\player\\weapon.3do", "data\\player\\weapon.material", &a.PlayerWeaponMaterials);
    ASSET_PrepareFrames(a.PlayerWeapon, false);

    a.MenuPicture = h3d->LoadAlphaTexture((char*)"data\\menu.jpg", 0);
    a.CreditsPicture = h3d->LoadAlphaTexture((char*)"data\\credits.jpg", 0);
    a.ScreenPlane = gfx->CreatePlane2d(640, 480, 0, 0, 0);
    a.StartPicture = h3d->LoadTextureFromFile((char*)"data\\start.jpg");
    for (int i = 0; i < BF04_NOISE_FRAMES; i++) {
        snprintf(name, sizeof name, "data\\ruidotele\\%04d.jpg", i + 1);
        a.Noise[i] = h3d->LoadTextureFromFile(name);
    }
    for (int i = 0; i < BF04_TEXT_PAGES; i++) {
        snprintf(name, sizeof name, "data\\textos\\texto%02d.jpg", i + 1);
        a.TextPage[i] = h3d->LoadTextureFromFile(name);
    }

    a.Explosion = o3d->LoadObject("data\\explosion\\bola.3do");
    o3d->ScaleObject(a.Explosion, 0.05f);
    a.ExplosionInstance = o3d->DuplicateObject(a.Explosion);
    a.ExplosionMaterials = o3d->LoadMaterials(a.Explosion, "data\\explosion\\bola.material");

    a.WinPicture = h3d->LoadTextureFromFile((char*)"data\\win.jpg");
    a.AutomaticPicture = h3d->LoadTextureFromFile((char*)"data\\automatic.jpg");

    a.ShadowTexture = h3d->LoadAlphaTexture((char*)"data\\black.jpg", 20);
    a.ShadowPlane = o3d->CreatePlane(2.0f, 2.0f);
    o3d->SetMaterialTextured(a.ShadowPlane, 0, 9, a.ShadowTexture, 0, 0);
    LoadAlphaMap(a.ShadowTexture, "data\\shadow.pcx");

    a.HudTexture = h3d->LoadAlphaTexture((char*)"data\\black2.jpg", 20);
    LoadAlphaMap(a.HudTexture, "data\\layout.pcx");
    a.HudFrame = o3d->CreatePlane2d(1280, 480, 0);
    o3d->SetMaterialTexturedTrans(a.HudFrame, 0, 8, a.HudTexture, 0);

    for (int i = 0; i < 10; i++) {
        snprintf(name, sizeof name, "data\\numeros\\%d.jpg", i);
        a.Digit[i] = h3d->LoadTextureFromFile(name);
    }
    a.Digit[10] = h3d->LoadTextureFromFile((char*)"data\\numeros\\dospuntos.jpg");
    a.DigitPlane = gfx->CreatePlane2d(25, 25, 0, 0, 0);

    a.EndPicture = h3d->LoadTextureFromFile((char*)"data\\end.jpg");

    a.VeilTexture = h3d->LoadAlphaTexture((char*)"data\\black3.jpg", 60);
    a.Veil = o3d->CreatePlane2d(640, 480, 0);
    o3d->SetMaterialTexturedTrans(a.Veil, 0, 8, a.VeilTexture, 0);
}

// What the game does not release (the HUD-frame texture, the digits and
// their plane, the end picture, the veil object, the explosion instance, the
// samples) goes with the engine object.
void ReleaseAssets()
{
    CZO3d* o3d = G.Engine->O3d;
    CZH3d* h3d = G.Engine->H3d;
    GameAssets& a = G.A;
    const unsigned long models[][2] = {{a.Sky, a.SkyMaterials}, {a.SoldierBody, a.SoldierBodyMaterials},
                                       {a.SoldierWeapon, a.SoldierWeaponMaterials}, {a.Scene, a.SceneMaterials}};
    for (const auto& m : models) {
        o3d->DestroyObject(m[0]);
        o3d->FreeMaterials(m[1], 1);
    }
    G.Engine->OctreeAABB->DestroyAABBOctree(a.SceneOctree);
    for (unsigned long t : {a.ShotLight, a.LightFalloff, a.ExplosionLight, a.Flare})
        h3d->UnloadTexture(t);
    o3d->DestroyObject(a.PlayerBody);
    o3d->FreeMaterials(a.PlayerBodyMaterials, 1);
    o3d->DestroyObject(a.PlayerWeapon);
    o3d->FreeMaterials(a.PlayerWeaponMaterials, 1);
    h3d->UnloadTexture(a.MenuPicture);
    h3d->UnloadTexture(a.CreditsPicture);
    h3d->UnloadTexture(a.StartPicture);
    G.Engine->Gfx->DestroyPlane2d(a.ScreenPlane);
    for (unsigned long t : a.Noise)
        h3d->UnloadTexture(t);
    for (unsigned long t : a.TextPage)
        h3d->UnloadTexture(t);
    o3d->DestroyObject(a.Explosion);
    o3d->FreeMaterials(a.ExplosionMaterials, 1);
    h3d->UnloadTexture(a.WinPicture);
    h3d->UnloadTexture(a.AutomaticPicture);
    h3d->UnloadTexture(a.ShadowTexture);
    o3d->DestroyObject(a.ShadowPlane);
    h3d->UnloadTexture(a.VeilTexture);
    o3d->DestroyObject(a.HudFrame);
}
