// Scene files, object slots, the camera and cone culling.
#include <cmath>
#include <string>

#include "services_fixture.h"
#include "zo3d.h"
#include "zw3d.h"

namespace {
const std::string kTwo = ZQ_WORLD_FIXTURES "/two.3do", kBox = ZQ_WORLD_FIXTURES "/box.3do",
                  kQuad = ZQ_GFX_FIXTURES "/quad.bmp", kKey = ZQ_GFX_FIXTURES "/key.bmp";

const ZO3D_MATERIAL* Material(unsigned long object, int m)
{
    return (const ZO3D_MATERIAL*)(uintptr_t)((const ZO3D_HEADER*)(uintptr_t)object)->Materials + m;
}
}  // namespace

TEST_F(Services, SceneFilesFollowTheTextRules)
{
    CZW3d* w = z->W3d;
    // "k3" is listed after a line whose key token is missing (a space before
    // the line feed): the list ends there. Sections in any order; keys found
    // by their second occurrence; "\r" dropped; an unknown word takes a turn.
    const std::string text = "[TEXTURES]\r\n" + kQuad + "\r\n" + kKey + "\r\n\r\n"
                             "[OBJECTS]\n" + kTwo + " k1\n" + kBox + " k2\n" + kBox + " \n" + kBox + " k3\n\n"
                             "k1\nTEXTURED " + kKey + " GLENZENVIRONMENT\nCOLORED 255 65280 16711680 COLORKEY\n"
                             "k2\nTEXTURED nothere.bmp -\n";
    File("scene_rules.txt", text);
    ASSERT_TRUE(w->LoadScene("scene_rules.txt"));
    EXPECT_FALSE(w->LoadScene("scene_rules.txt"));
    ASSERT_EQ(2u, w->ObjectCount);
    ASSERT_EQ(2u, w->TextureCount);
    EXPECT_EQ(kKey, w->TextureNames[1]);
    const unsigned long two = w->GetObjectHandle(0), box = w->GetObjectHandle(1);
    EXPECT_EQ(ZW3D_FREE, w->GetObjectHandle(2));
    EXPECT_STREQ("k2", w->Keys[1]);
    EXPECT_EQ(w->Textures[1], Material(two, 0)->Texture1);
    EXPECT_EQ(0x05u, Material(two, 0)->Flags);
    EXPECT_EQ((uint32_t)ZO3D_MAT_COLORED, Material(two, 1)->Type);
    EXPECT_EQ(0x02u, Material(two, 1)->Flags);
    EXPECT_EQ(255u, Material(two, 1)->Color[0]);
    EXPECT_EQ(65280u, Material(two, 1)->Color[1]);
    EXPECT_EQ(16711680u, Material(two, 1)->Color[2]);
    EXPECT_EQ(0u, Material(box, 0)->Texture1);    // not in the list
    // The bounding sphere holds the box whatever its angles.
    EXPECT_GE(w->Spheres[1].Radius, 0.866f);

    // Deleting a slot and inserting an object reuses it; FreeScene empties all.
    w->DeleteObjectFromScene(0);
    EXPECT_EQ(ZW3D_FREE, w->GetObjectHandle(0));
    EXPECT_EQ(0u, w->InsertObjectInScene(z->O3d->CreateCube(1, 1, 1)));
    w->FreeScene();
    EXPECT_EQ(0u, w->ObjectCount);
    EXPECT_EQ(0u, w->TextureCount);
    EXPECT_EQ(ZW3D_FREE, w->GetObjectHandle(0));
    EXPECT_TRUE(w->LoadScene("scene_rules.txt"));
}

TEST_F(Services, SceneLimitsAreRefusedLoudly)
{
    CZW3d* w = z->W3d;
    // 513 objects and a 600-character key: the list stops at 512, the key
    // is cut to 511, both logged; the scene still loads.
    std::string text = "[OBJECTS]\n";
    for (int i = 0; i < 513; i++)
        text += kBox + (i ? " key" + std::to_string(i) + "x" : " " + std::string(600, 'q')) + "\n";
    File("scene_many.txt", text);
    ASSERT_TRUE(w->LoadScene("scene_many.txt"));
    EXPECT_EQ(512u, w->ObjectCount);
    EXPECT_EQ(511u, strlen(w->Keys[0]));
    EXPECT_GE(ZQ_CountLogLines("a scene file holds at most 512 objects"), 1u);
    EXPECT_GE(ZQ_CountLogLines("longer than 511 characters"), 1u);

    // Slots fill at 1000: the 1001st insert is refused, and a scene loaded
    // into a full world lists nothing more.
    for (int i = 512; i < ZW3D_MAX_OBJECTS; i++)
        ASSERT_NE(ZW3D_FREE, w->InsertObjectInScene(z->O3d->CreateCube(1, 1, 1)));
    const unsigned long extra = z->O3d->CreateCube(1, 1, 1);
    EXPECT_EQ(ZW3D_FREE, w->InsertObjectInScene(extra));
    z->O3d->DestroyObject(extra);
    w->SceneLoaded = 0;   // as if another scene could come
    EXPECT_TRUE(w->LoadScene("scene_many.txt"));
    EXPECT_EQ(1000u, w->ObjectCount);
    EXPECT_GE(ZQ_CountLogLines("all 1000 object slots are taken"), 1u);
    w->FreeScene();
}

TEST_F(Services, ConeCullingKeepsEverySphereInViewAndDropsWhatIsBehind)
{
    CZW3d* w = z->W3d;
    const unsigned long ahead = w->InsertObjectInScene(z->O3d->CreateCube(1, 1, 1));
    const unsigned long behind = w->InsertObjectInScene(z->O3d->CreateCube(1, 1, 1));
    Vector3 a = {0, 0, 20}, b = {0, 0, -200};
    w->SetObjectPosition(ahead, &a);
    w->SetObjectPosition(behind, &b);
    Vector3 eye = {0, 0, 0}, dir = {0, 0, 1};
    w->SetCameraPos(&eye, &dir, nullptr, 60);
    EXPECT_EQ(0.0f, dir.x);
    EXPECT_EQ(1.0f, dir.z);      // turned into the look-at point: eye + direction
    w->RenderWorld();
    EXPECT_EQ(1u, w->ObjectsDrawn);
    EXPECT_EQ(1u, w->ObjectsCulled);
    w->SetWorldCulling(false);
    w->RenderWorld();
    EXPECT_EQ(2u, w->ObjectsDrawn);
    Frame();

    // Brute force over random cameras: a sphere the renderer's frustum does
    // not exclude is never outside the cone.
    uint32_t seed = 7, seen = 0, outside = 0;
    auto rnd = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (seed >> 8) / 16777216.0f;
    };
    for (int cam = 0; cam < 60; cam++) {
        Vector3 p = {rnd(-50, 50), rnd(-50, 50), rnd(-50, 50)};
        Vector3 d = {rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)};
        const float len = sqrtf(d.x * d.x + d.y * d.y + d.z * d.z);
        d = {d.x / len, d.y / len, d.z / len};
        const float fov = rnd(30, 100);
        w->SetCameraPos(&p, &d, nullptr, fov);
        for (int i = 0; i < 200; i++) {
            const Sphere3 s = {{rnd(-100, 100), rnd(-100, 100), rnd(-100, 100)}, rnd(0.1f, 20)};
            bool excluded = false;
            for (int k = 0; k < 6; k++) {
                const Plane& pl = g.H3d->Frustum[k];
                excluded = excluded || pl.a * s.Center.x + pl.b * s.Center.y + pl.c * s.Center.z + pl.d < -s.Radius;
            }
            const int cone = w->TestCone(&s);
            if (!excluded) {
                seen++;
                ASSERT_NE(0, cone) << "camera " << cam << " sphere " << i;
            }
            outside += cone == 0;
        }
    }
    EXPECT_GT(seen, 500u);
    EXPECT_GT(outside, 2000u);
}
