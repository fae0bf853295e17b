// A 640 x 480 device with the camera 10 units in front of the origin
// looking down +z (90 degrees each way: x = +-z lands on the screen's
// edges), solid textures and files written next to the test.
#ifndef ZQ_SERVICES_FIXTURE_H
#define ZQ_SERVICES_FIXTURE_H

#include <cstdio>
#include <string>
#include <vector>

#include "gfx_fixture.h"
#include "solid_texture.h"
#include "zqtest.h"

class Services : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g.Open(640, 480));
        z = g.Z;
        px.resize(640 * 480);
        g.Vgs->ClearColor = 0xFF000000;
        g.H3d->SetCullingState(false, false);
        Camera({0, 0, -10}, {0, 0, 0});
    }
    void TearDown() override
    {
        for (IDirect3DTexture9* t : textures)
            t->Release();
        g.Close();
        for (const std::string& f : files)
            DeleteFileA(f.c_str());
    }
    void Camera(Vector3 eye, Vector3 at)
    {
        g.H3d->SetProyectionParams(1.0f, 1000.0f, 90.0f, 90.0f);
        g.H3d->SetCameraPosition(&eye, &at, nullptr);
    }
    uint32_t Texture(uint32_t argb) { return ZQ_SolidTexture(g.Vgs->Device, argb, &textures); }
    std::string File(const std::string& name, const void* bytes, size_t size)
    {
        FILE* f = fopen(name.c_str(), "wb");
        EXPECT_TRUE(f != nullptr);
        if (f) {
            fwrite(bytes, 1, size, f);
            fclose(f);
        }
        files.push_back(name);
        return name;
    }
    std::string File(const std::string& name, const std::string& text) { return File(name, text.data(), text.size()); }
    void Frame()
    {
        g.Frame();
        g.Pixels(px.data());
    }
    uint32_t At(int x, int y) { return px[y * 640 + x] & 0xFFFFFF; }
    int Count(int x0, int y0, int x1, int y1, uint32_t rgb, int tolerance = 40)
    {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++)
                n += ZQ_Near(At(x, y), rgb, tolerance);
        return n;
    }

    ZQGfx g;
    CZarquel* z = nullptr;
    std::vector<uint32_t> px;
    std::vector<IDirect3DTexture9*> textures;
    std::vector<std::string> files;
};

#endif
