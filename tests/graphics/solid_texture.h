// A 4 x 4 managed A8R8G8B8 texture of one colour for the object and plane
// tests; `owned` keeps it until the test releases its list.
#ifndef ZQ_SOLID_TEXTURE_H
#define ZQ_SOLID_TEXTURE_H

#include <cstdint>
#include <vector>
#include <d3d9.h>

#include <gtest/gtest.h>

inline uint32_t ZQ_SolidTexture(IDirect3DDevice9* device, uint32_t argb, std::vector<IDirect3DTexture9*>* owned)
{
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(D3D_OK, device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, NULL));
    if (!t)
        return 0;
    D3DLOCKED_RECT lr;
    EXPECT_EQ(D3D_OK, t->LockRect(0, &lr, NULL, 0));
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = argb;
    t->UnlockRect(0);
    owned->push_back(t);
    return (uint32_t)(uintptr_t)t;
}

#endif
