// Graphics test support: a real windowed Direct3D 9 device opened through
// the engine (under Wine, over the X display), and back-buffer read-back.
#ifndef ZQ_GFX_FIXTURE_H
#define ZQ_GFX_FIXTURE_H

#include <cstdint>
#include <string>
#include <vector>

#include "zarquel.h"
#include "zh3d.h"
#include "zvgs.h"
#include "zcaps.h"

struct ZQGfx {
    CZarquel* Z = nullptr;
    CZVgs* Vgs = nullptr;
    CZH3d* H3d = nullptr;
    HWND Window = NULL;
    unsigned long Layer3D = 0;

    // Engine object, 64 MiB heap, CZVgs::Init + SelectGraphMode (windowed
    // unless told), CZH3d::Init, one 3D layer, presenting off so the back
    // buffer can be read after RenderScene. Width x height back buffer.
    bool Open(unsigned long width = 64, unsigned long height = 64, int windowed = 1,
              unsigned long depth = ZVGS_DEPTH_TRUE);
    void Close();

    // One RenderScene(null, null).
    void Frame();
    // The back buffer's pixel at (x, y) as 0xAARRGGBB (X8R8G8B8 or R5G6B5
    // widened); reads through GetBackBuffer + LockRect.
    uint32_t Pixel(int x, int y);
    // All pixels at once, row by row (width * height values).
    void Pixels(uint32_t* out);
};

// A pre-transformed triangle of `kind` over the whole 64x64 back buffer,
// one texel per pixel (u = x / 64, v = y / 64).
POLYSTRUCT ZQ_ScreenTri(uint32_t kind, uint32_t texture, uint32_t flags, uint32_t diffuse = 0xFFFFFFFF);

// How many times `text` occurs in the engine's log "c:\zarquel.log".
size_t ZQ_CountLogLines(const std::string& text);

// True when the two colours differ by at most `tolerance` in each of R, G, B.
bool ZQ_Near(uint32_t a, uint32_t b, int tolerance = 2);

#endif
