#include "gfx_fixture.h"

#include <cstdlib>

#include "zqtest.h"

bool ZQGfx::Open(unsigned long width, unsigned long height, int windowed, unsigned long depth)
{
    Z = new CZarquel;
    if (!Z->Mem->InitHeap(64u << 20))
        return false;
    Vgs = Z->Vgs;
    H3d = Z->H3d;
    Vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    char title[] = "zarquel test";
    Vgs->SelectGraphMode(width, height, 0, 0, title, &Window, windowed, 0, depth);
    H3d->Init();
    Layer3D = Vgs->CreateLayer3D();
    Vgs->SetPresent(false);
    return Vgs->Device != nullptr && Layer3D == ZVGS_HANDLE_3D;
}

void ZQGfx::Close()
{
    delete Z;
    Z = nullptr;
    Vgs = nullptr;
    H3d = nullptr;
    // The engine leaves its window to the process; tests make many.
    if (Window)
        DestroyWindow(Window);
    Window = NULL;
    // DestroyWindow posted a quit message; a later message box would take it.
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

void ZQGfx::Frame()
{
    Vgs->RenderScene(nullptr, nullptr);
}

static uint32_t ZQ_Widen565(uint16_t p)
{
    uint32_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
    return 0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

void ZQGfx::Pixels(uint32_t* out)
{
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(Vgs->Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface)))
        abort();
    D3DLOCKED_RECT lr;
    if (FAILED(surface->LockRect(&lr, NULL, D3DLOCK_READONLY)))
        abort();
    for (unsigned long y = 0; y < Vgs->Height; y++) {
        const uint8_t* row = (const uint8_t*)lr.pBits + y * lr.Pitch;
        for (unsigned long x = 0; x < Vgs->Width; x++) {
            uint32_t v;
            switch (Vgs->PixelSize) {
            case 2: v = ZQ_Widen565(((const uint16_t*)row)[x]); break;
            case 3: v = 0xFF000000u | row[x * 3] | row[x * 3 + 1] << 8 | row[x * 3 + 2] << 16; break;
            default: v = ((const uint32_t*)row)[x]; break;
            }
            *out++ = v;
        }
    }
    surface->UnlockRect();
    surface->Release();
}

uint32_t ZQGfx::Pixel(int x, int y)
{
    std::vector<uint32_t> all(Vgs->Width * Vgs->Height);
    Pixels(all.data());
    return all[y * Vgs->Width + x];
}

bool ZQ_Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8) {
        int d = (int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance)
            return false;
    }
    return true;
}

size_t ZQ_CountLogLines(const std::string& text)
{
    const std::string log = ZQ_ReadTextFile("c:\\zarquel.log");
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        n++;
    return n;
}

POLYSTRUCT ZQ_ScreenTri(uint32_t kind, uint32_t texture, uint32_t flags, uint32_t diffuse)
{
    POLYSTRUCT p = {};
    const float xs[3] = {0, 128, 0}, ys[3] = {0, 0, 128};
    for (int v = 0; v < 3; v++) {
        p.Vertex[v].x = xs[v];
        p.Vertex[v].y = ys[v];
        p.Vertex[v].z = 0.5f;
        p.Vertex[v].Diffuse = diffuse;
        p.Vertex[v].u = xs[v] / 64;
        p.Vertex[v].v = ys[v] / 64;
    }
    p.Texture1 = texture;
    p.Kind = kind;
    p.Flags = flags;
    p.Rhw = 1.0f;
    return p;
}
