// Batching: what the queue keeps, what reaches the real device (through the
// counting hook) and what lands in the back buffer.
#include <cstring>
#include <d3dx9.h>
#include <string>

#include "d3d_hook.h"
#include "gfx_fixture.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zqtest.h"

namespace {

DWORD FloatBits(float f)
{
    DWORD d;
    memcpy(&d, &f, sizeof(d));
    return d;
}

// Render flags no kind turns into states: distinct keys without textures.
const uint32_t KEY_BIT = 0x100000u;

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g.Open());
        dev = g.Vgs->Device;
        h = g.H3d;
        ASSERT_TRUE(hook.Install(dev));
    }
    void TearDown() override
    {
        hook.Remove();
        for (IDirect3DTexture9* t : textures)
            t->Release();
        g.Close();
    }

    // A 4x4 texture of one colour; with `alphaRows` the top rows get alpha 0.
    uint32_t Texture(uint32_t argb, int alphaRows = 0)
    {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(D3D_OK, dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, NULL));
        if (!t)
            return 0;
        D3DLOCKED_RECT lr;
        EXPECT_EQ(D3D_OK, t->LockRect(0, &lr, NULL, 0));
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 4; x++)
                ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = y < alphaRows ? argb & 0x00FFFFFF : argb;
        t->UnlockRect(0);
        textures.push_back(t);
        return (uint32_t)(uintptr_t)t;
    }

    // A world-space textured triangle in front of the default camera.
    static POLYSTRUCT Tri(uint32_t texture, uint32_t flags = 0)
    {
        POLYSTRUCT p = {};
        const float xs[3] = {-1, 1, -1}, ys[3] = {1, 1, -1};
        for (int v = 0; v < 3; v++) {
            p.Vertex[v].x = xs[v];
            p.Vertex[v].y = ys[v];
            p.Vertex[v].z = 5;
            p.Vertex[v].Diffuse = 0xFFFFFFFF;
        }
        p.Texture1 = texture;
        p.Kind = ZPRIM_TEXTURED;
        p.Flags = flags;
        return p;
    }

    static POLYSTRUCT ScreenTri(uint32_t kind, uint32_t texture, uint32_t flags, uint32_t diffuse = 0xFFFFFFFF)
    {
        return ZQ_ScreenTri(kind, texture, flags, diffuse);
    }
    static POINTSTRUCT Point(float z, uint32_t flags = 0, uint32_t kind = ZPRIM_POINT)
    {
        POINTSTRUCT p = {};
        p.z = z;
        p.Kind = kind;
        p.Flags = flags;
        return p;
    }

    DWORD Tss(DWORD stage, D3DTEXTURESTAGESTATETYPE s)
    {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(D3D_OK, dev->GetTextureStageState(stage, s, &v));
        return v;
    }


    ZQGfx g;
    IDirect3DDevice9* dev = nullptr;
    CZH3d* h = nullptr;
    ZQHook hook;
    std::vector<IDirect3DTexture9*> textures;
};

// ---------------------------------------------------------------------------
// Keys and chunks

TEST_F(BatchTest, ABucketHoldsAThousandTheNextOneGoesToASecondDraw)
{
    uint32_t t = Texture(0xFF808080);
    const uint32_t walks = h->BucketWalks;
    for (int i = 0; i < 1001; i++) {
        POLYSTRUCT p = Tri(t);
        h->DrawPoly(&p);
    }
    // Only the first and the one past the full bucket walk the table; the
    // rest go to the bucket of the key last used.
    EXPECT_EQ(walks + 2, h->BucketWalks);
    g.Frame();
    ASSERT_EQ(2u, hook.Draws.size());
    EXPECT_EQ(1000u, hook.Draws[0].Count);
    EXPECT_EQ(1u, hook.Draws[1].Count);
    for (const ZQDraw& d : hook.Draws) {
        EXPECT_EQ((DWORD)D3DPT_TRIANGLELIST, d.Type);
        EXPECT_EQ(0u, d.Start);
        EXPECT_EQ((DWORD)ZH3D_FVF_TRIS_TEXTURED, d.Fvf);
        EXPECT_EQ(48u, d.Stride);
    }
    EXPECT_EQ(2u, h->FrameDrawCalls);
    EXPECT_EQ(2u, h->FrameBatches);
    EXPECT_EQ(1001u, h->FramePrimitives);
    // The vertices reach the buffer as queued: the record's first 144 bytes.
    POLYSTRUCT p = Tri(t);
    ASSERT_EQ(144u, hook.Draws[1].Vertices.size());
    EXPECT_EQ(0, memcmp(hook.Draws[1].Vertices.data(), &p, 144));
}

TEST_F(BatchTest, InterleavedKeysMakeOneBatchEachInFirstQueuedOrder)
{
    uint32_t a = Texture(0xFFFF0000), b = Texture(0xFF00FF00);
    for (uint32_t t : {a, b, a, b}) {
        POLYSTRUCT p = Tri(t);
        h->DrawPoly(&p);
    }
    g.Frame();
    ASSERT_EQ(2u, hook.Draws.size());
    EXPECT_EQ(a, hook.Draws[0].Texture[0]);
    EXPECT_EQ(2u, hook.Draws[0].Count);
    EXPECT_EQ(b, hook.Draws[1].Texture[0]);
    EXPECT_EQ(2u, hook.Draws[1].Count);
    EXPECT_EQ(4u, h->PrimitivesQueued);
}

TEST_F(BatchTest, UnusedTextureFieldsAreClearedAndDoNotSplitBatches)
{
    uint32_t t = Texture(0xFF808080);
    POLYSTRUCT plain = Tri(t);
    POLYSTRUCT stale = Tri(t);
    stale.Texture2 = 0x1234;
    stale.Texture3 = 0x5678;
    h->DrawPoly(&plain);
    h->DrawPoly(&stale);
    EXPECT_EQ(0u, stale.Texture2);
    EXPECT_EQ(0u, stale.Texture3);
    EXPECT_EQ(2u, h->Tables[ZH3D_TRIS_TEXTURED][0].Count);
    EXPECT_EQ(ZH3D_FREE, h->Tables[ZH3D_TRIS_TEXTURED][1].Count);

    // Which bits keep which field.
    struct { uint32_t Kind, Flags, Texture2, Texture3; } const cases[] = {
        {ZPRIM_TEXTURED, ZRF_SECONDMAP, 0x1234, 0},
        {ZPRIM_TEXTURED, ZRF_SECONDENVIRONMENT, 0x1234, 0},
        {ZPRIM_TEXTURED, ZRF_BUMP, 0x1234, 0x5678},
        {ZPRIM_TEXTURED, ZRF_ADDITIVE, 0, 0},
        {ZPRIM_TEXTURED_2D, ZRF_SECONDMAP, 0x1234, 0x5678},
        {ZPRIM_TEXTURED_2D, ZRF_BUMP, 0, 0x5678},   // the 2D kind has no bump map; Texture3 is not its key
    };
    for (const auto& c : cases) {
        POLYSTRUCT p = ScreenTri(c.Kind, t, c.Flags);
        p.Texture2 = 0x1234;
        p.Texture3 = 0x5678;
        h->DrawPoly(&p);
        EXPECT_EQ(c.Texture2, p.Texture2) << "kind " << c.Kind << " flags " << std::hex << c.Flags;
        EXPECT_EQ(c.Texture3, p.Texture3) << "kind " << c.Kind << " flags " << std::hex << c.Flags;
    }
    h->H3D_DeleteTables();
}

TEST_F(BatchTest, RecordsOfUnknownKindsAreIgnored)
{
    POINTSTRUCT pt = Point(5, 0, 2);
    h->DrawPoint(&pt);
    POLYSTRUCT p = Tri(0);
    p.Kind = 3;
    h->DrawPoly(&p);
    LINESTRUCT l = {};
    l.Kind = ZPRIM_COLORED_2D;
    h->DrawLine(&l);
    EXPECT_EQ(3u, h->PrimitivesIgnored);
    EXPECT_EQ(0u, h->PrimitivesQueued);
    for (int k = 0; k < ZH3D_KINDS; k++)
        EXPECT_EQ(ZH3D_FREE, h->Tables[k][0].Count) << "kind " << k;
    g.Frame();
    EXPECT_TRUE(hook.Draws.empty());
}

// ---------------------------------------------------------------------------
// What each kind puts in its vertices

TEST_F(BatchTest, PreTransformedTextureLinesAreWhiteWithAlphaZero)
{
    uint32_t t = Texture(0xFF808080);
    LINESTRUCT l = {};
    l.End[0] = LINEVERTEX{1, 2, 0.5f, 9, 9, 9, 0.25f, 0.75f};
    l.End[1] = LINEVERTEX{30, 40, 0.5f, 9, 9, 9, 1, 0};
    l.Texture = t;
    l.Color0 = l.Color1 = 0xFF123456;
    l.Kind = ZPRIM_TEXTURED_2D;
    h->DrawLine(&l);
    g.Frame();
    ASSERT_EQ(1u, hook.Draws.size());
    const ZQDraw& d = hook.Draws[0];
    EXPECT_EQ((DWORD)D3DPT_LINELIST, d.Type);
    EXPECT_EQ((DWORD)ZH3D_FVF_LINES_TEXTURED_2D, d.Fvf);
    ASSERT_EQ(56u, d.Vertices.size());
    for (int e = 0; e < 2; e++) {
        float f[7];
        memcpy(f, d.Vertices.data() + e * 28, 28);
        EXPECT_EQ(l.End[e].x, f[0]);
        EXPECT_EQ(l.End[e].y, f[1]);
        EXPECT_EQ(l.End[e].z, f[2]);
        EXPECT_EQ(1.0f, f[3]);
        EXPECT_EQ(0x00FFFFFFu, FloatBits(f[4]));
        EXPECT_EQ(l.End[e].u, f[5]);
        EXPECT_EQ(l.End[e].v, f[6]);
    }
}

TEST_F(BatchTest, ColouredAndPreTransformedVerticesAreRepacked)
{
    POLYSTRUCT c = Tri(0);
    c.Kind = ZPRIM_COLORED;
    for (int v = 0; v < 3; v++) {
        c.Vertex[v].Diffuse = 0xFF000010 + v;
        c.Vertex[v].Specular = 0xFF000020 + v;
    }
    POLYSTRUCT s = ScreenTri(ZPRIM_TEXTURED_2D, Texture(0xFF808080), 0, 0xFF00FF00);
    s.Rhw = 0.5f;
    s.Vertex[1].u2 = 0.125f;
    LINESTRUCT l = {};
    l.End[0].x = 1;
    l.End[1].nz = 3;
    l.Color0 = 0xFF0000AA;
    l.Color1 = 0xFF0000BB;
    l.Kind = ZPRIM_COLORED;
    h->DrawPoly(&c);
    h->DrawPoly(&s);
    h->DrawLine(&l);
    g.Frame();
    // Drawing order: coloured triangles, coloured lines, pre-transformed textured triangles.
    ASSERT_EQ(3u, hook.Draws.size());
    const std::vector<uint8_t>& tri = hook.Draws[0].Vertices;
    ASSERT_EQ(96u, tri.size());
    for (int v = 0; v < 3; v++)
        EXPECT_EQ(0, memcmp(tri.data() + v * 32, &c.Vertex[v], 32)) << "vertex " << v;
    const std::vector<uint8_t>& line = hook.Draws[1].Vertices;
    ASSERT_EQ(56u, line.size());
    float e1[7];
    memcpy(e1, line.data() + 28, 28);
    EXPECT_EQ(3.0f, e1[5]);
    EXPECT_EQ(0xFF0000BBu, FloatBits(e1[6]));
    EXPECT_EQ(0xFF0000AAu, FloatBits(((const float*)line.data())[6]));
    const std::vector<uint8_t>& st = hook.Draws[2].Vertices;
    ASSERT_EQ(108u, st.size());
    float v1[9];
    memcpy(v1, st.data() + 36, 36);
    EXPECT_EQ(128.0f, v1[0]);
    EXPECT_EQ(0.5f, v1[3]);
    EXPECT_EQ(0xFF00FF00u, FloatBits(v1[4]));
    EXPECT_EQ(2.0f, v1[5]);
    EXPECT_EQ(0.125f, v1[7]);
}

TEST_F(BatchTest, OrderedParticlesAreDrawnFarthestFirst)
{
    h->SetParticlesOrder(true);
    ASSERT_NE(nullptr, h->SortBuffer);
    // The default camera looks down +z with the near plane at z = 1.
    for (float depth : {1.0f, 5.0f, 3.0f}) {
        POINTSTRUCT p = Point(1 + depth);
        p.u = depth;
        h->DrawPoint(&p);
    }
    g.Frame();
    ASSERT_EQ(1u, hook.Draws.size());
    const ZQDraw& d = hook.Draws[0];
    EXPECT_EQ((DWORD)D3DPT_POINTLIST, d.Type);
    ASSERT_EQ(60u, d.Vertices.size());
    const float expect[3] = {5, 3, 1};
    for (int i = 0; i < 3; i++) {
        float f[5];
        memcpy(f, d.Vertices.data() + i * 20, 20);
        EXPECT_FLOAT_EQ(1 + expect[i], f[2]) << "point " << i;
        EXPECT_EQ(expect[i], f[3]) << "point " << i;
    }
    EXPECT_EQ(0u, d.ZWrite);
    DWORD z = 0;
    dev->GetRenderState(D3DRS_ZWRITEENABLE, &z);
    EXPECT_EQ(1u, z);

    // Off: queued order again, and the buffer is gone.
    h->SetParticlesOrder(false);
    EXPECT_EQ(nullptr, h->SortBuffer);
    EXPECT_FALSE(h->ParticlesOrderOn);
    hook.Clear();
    for (float depth : {1.0f, 5.0f, 3.0f}) {
        POINTSTRUCT p = Point(1 + depth);
        h->DrawPoint(&p);
    }
    g.Frame();
    ASSERT_EQ(1u, hook.Draws.size());
    float first[5];
    memcpy(first, hook.Draws[0].Vertices.data(), 20);
    EXPECT_FLOAT_EQ(2.0f, first[2]);
}

// ---------------------------------------------------------------------------
// Limits and stores

TEST_F(BatchTest, TheBucketPastTheTableIsRefusedLoggedOnceAndNothingIsWrittenPastIt)
{
    const std::string line = "H3D: point sprites: table full (1800 buckets)";
    const size_t logged = ZQ_CountLogLines(line);
    ZH3D_BUCKET* table = h->Tables[ZH3D_POINTS];
    for (int frame = 0; frame < 2; frame++) {
        for (uint32_t i = 0; i < ZH3D_MAX_BUCKETS; i++) {
            POINTSTRUCT p = Point(5, KEY_BIT * (i + 1));
            h->DrawPoint(&p);
        }
        // Whatever follows the table in the heap (a store) stays as it is.
        uint8_t after[64];
        memcpy(after, table + ZH3D_MAX_BUCKETS, sizeof(after));
        for (uint32_t i = 0; i < 3; i++) {
            POINTSTRUCT p = Point(5, KEY_BIT * (ZH3D_MAX_BUCKETS + 1 + i));
            h->DrawPoint(&p);
        }
        EXPECT_EQ(3u * (frame + 1), h->PrimitivesRefused);
        EXPECT_EQ(KEY_BIT * ZH3D_MAX_BUCKETS, table[ZH3D_MAX_BUCKETS - 1].Flags);
        EXPECT_EQ(0, memcmp(after, table + ZH3D_MAX_BUCKETS, sizeof(after)));
        // A key already in the table still takes primitives.
        POINTSTRUCT again = Point(5, KEY_BIT);
        h->DrawPoint(&again);
        EXPECT_EQ(2u, table[0].Count);
        EXPECT_EQ(logged + frame + 1, ZQ_CountLogLines(line)) << "one line per frame";
        hook.Clear();
        g.Frame();
        EXPECT_EQ((uint32_t)ZH3D_MAX_BUCKETS, h->FrameBatches);
        EXPECT_EQ((uint32_t)ZH3D_MAX_BUCKETS + 1, h->FramePrimitives);
        EXPECT_EQ((size_t)ZH3D_MAX_BUCKETS, hook.Draws.size());
    }
    EXPECT_EQ(0u, h->PrimitivesDropped);
}

TEST_F(BatchTest, AStoreThatCannotBeHadIsRefusedAndTheBucketStaysFree)
{
    // 144,000-byte stores exhaust the 64 MiB heap long before 1800 buckets.
    const std::string line = "H3D: textured triangles: no memory for a store";
    const size_t logged = ZQ_CountLogLines(line);
    uint32_t made = 0;
    for (uint32_t i = 0; i < ZH3D_MAX_BUCKETS; i++) {
        POLYSTRUCT p = Tri(0, KEY_BIT * (i + 1));
        h->DrawPoly(&p);
        if (h->PrimitivesRefused == 0)
            made++;
    }
    ASSERT_GT(made, 0u);
    ASSERT_LT(made, (uint32_t)ZH3D_MAX_BUCKETS);
    EXPECT_EQ(ZH3D_MAX_BUCKETS - made, h->PrimitivesRefused);
    EXPECT_EQ(logged + 1, ZQ_CountLogLines(line));
    const ZH3D_BUCKET& next = h->Tables[ZH3D_TRIS_TEXTURED][made];
    EXPECT_EQ(ZH3D_FREE, next.Count);
    EXPECT_EQ(ZH3D_FREE, next.Store);
    g.Frame();
    EXPECT_EQ(made, h->FrameBatches);
}

TEST_F(BatchTest, LineAndPointStoresGoBackEachFrameTriangleStoresStay)
{
    CZMem* mem = g.Z->Mem;
    uint32_t t = Texture(0xFF808080);
    g.Frame();
    uint8_t* top = mem->Top;
    uintptr_t freeList = mem->FreeList;
    for (int frame = 0; frame < 2; frame++) {
        for (int i = 0; i < 3; i++) {
            LINESTRUCT l = {};
            l.Kind = i == 0 ? ZPRIM_TEXTURED : i == 1 ? ZPRIM_TEXTURED_2D : ZPRIM_COLORED;
            l.Texture = t;
            l.Flags = KEY_BIT;
            h->DrawLine(&l);
            l.Flags = 2 * KEY_BIT;
            h->DrawLine(&l);
            POINTSTRUCT p = Point(3, KEY_BIT * i);
            h->DrawPoint(&p);
        }
        g.Frame();
        EXPECT_EQ(top, mem->Top) << "frame " << frame;
        EXPECT_EQ(freeList, mem->FreeList) << "frame " << frame;
        for (int k = ZH3D_LINES_TEXTURED; k <= ZH3D_POINTS; k++) {
            EXPECT_EQ(ZH3D_FREE, h->Tables[k][0].Store) << "kind " << k;
            EXPECT_EQ(ZH3D_FREE, h->Tables[k][0].Cursor) << "kind " << k;
        }
    }

    uint32_t stores[2] = {0, 0};
    uint32_t calls = 0;
    for (int frame = 0; frame < 2; frame++) {
        POLYSTRUCT p = Tri(t);
        h->DrawPoly(&p);
        POLYSTRUCT c = ScreenTri(ZPRIM_COLORED_2D, 0, 0);
        h->DrawPoly(&c);
        if (frame == 1) {
            EXPECT_EQ(calls, mem->GetMemCalls) << "second frame takes no new stores";
        }
        stores[frame] = h->Tables[ZH3D_TRIS_TEXTURED][0].Store;
        g.Frame();
        const ZH3D_BUCKET& b = h->Tables[ZH3D_TRIS_COLORED_2D][0];
        EXPECT_EQ(ZH3D_FREE, b.Count);
        EXPECT_NE(ZH3D_FREE, b.Store);
        EXPECT_EQ(b.Store, b.Cursor);
        calls = mem->GetMemCalls;
    }
    EXPECT_EQ(stores[0], stores[1]);
}

TEST_F(BatchTest, PrimitivesEmptiedWithoutADrawAreCountedDropped)
{
    for (int i = 0; i < 3; i++) {
        POLYSTRUCT p = ScreenTri(ZPRIM_COLORED_2D, 0, KEY_BIT * i);
        h->DrawPoly(&p);
    }
    POINTSTRUCT pt = Point(4);
    h->DrawPoint(&pt);
    g.Frame();
    EXPECT_EQ(0u, h->PrimitivesDropped);
    // What the display does while the device is lost.
    for (int i = 0; i < 3; i++) {
        POLYSTRUCT p = ScreenTri(ZPRIM_COLORED_2D, 0, KEY_BIT * i);
        h->DrawPoly(&p);
    }
    h->DrawPoint(&pt);
    h->H3D_DeleteTables();
    EXPECT_EQ(4u, h->PrimitivesDropped);
    EXPECT_TRUE(hook.Draws.size() == 4u);

    // Without tables (never initialised, or de-initialised) nothing happens.
    CZH3d bare;
    bare.H3D_DeleteTables();
    POLYSTRUCT p = Tri(0);
    bare.DrawPoly(&p);
    EXPECT_EQ(1u, bare.PrimitivesRefused);
}

// ---------------------------------------------------------------------------
// Device states per bucket

TEST_F(BatchTest, TextureSetsAreSkippedWhenTheSlotHoldsTheTexture)
{
    uint32_t a = Texture(0xFFFF0000);
    for (uint32_t flags : {0u, KEY_BIT, 2 * KEY_BIT}) {
        POLYSTRUCT p = Tri(a, flags);
        h->DrawPoly(&p);
    }
    g.Frame();
    ASSERT_EQ(3u, hook.Draws.size());
    EXPECT_EQ(1u, hook.TextureSets(0));
    EXPECT_EQ(1u, h->FrameTextureSets) << "stage 0 once; stage 1 was already empty";
    EXPECT_EQ(5u, h->FrameTextureSkips);
    for (const ZQDraw& d : hook.Draws)
        EXPECT_EQ(a, d.Texture[0]);
    // Each frame starts from empty slots: the texture is set again.
    hook.Clear();
    POLYSTRUCT p = Tri(a);
    h->DrawPoly(&p);
    g.Frame();
    EXPECT_EQ(1u, hook.TextureSets(0));

    // A slot of 0 at the frame's start does not mean the device holds none:
    // a batch without a texture really unbinds last frame's.
    hook.Clear();
    POLYSTRUCT none = Tri(0);
    h->DrawPoly(&none);
    g.Frame();
    EXPECT_EQ(1u, hook.TextureSets(0));
    IDirect3DBaseTexture9* bound = reinterpret_cast<IDirect3DBaseTexture9*>(1);
    ASSERT_EQ(D3D_OK, dev->GetTexture(0, &bound));
    EXPECT_EQ(nullptr, bound);
    if (bound)
        bound->Release();
}

TEST_F(BatchTest, BlendAndAlphaTestStatesFollowEachBucketsFlags)
{
    uint32_t t = Texture(0xFF808080);
    h->SetAlphaType(2);
    h->SetAlphaTestValue(77);
    const uint32_t flags[] = {ZRF_ADDITIVE, ZRF_ALPHATEST, ZRF_ALPHABLEND, 0, ZRF_ALPHATHRESHOLD,
                              ZRF_ADDITIVE | ZRF_ALPHABLEND};
    for (uint32_t f : flags) {
        POLYSTRUCT p = Tri(t, f);
        h->DrawPoly(&p);
    }
    g.Frame();
    ASSERT_EQ(6u, hook.Draws.size());
    const ZQDraw* d = hook.Draws.data();
    EXPECT_EQ(1u, d[0].AlphaBlend);
    EXPECT_EQ((DWORD)D3DBLEND_ONE, d[0].SrcBlend);
    EXPECT_EQ((DWORD)D3DBLEND_ONE, d[0].DestBlend);
    EXPECT_EQ((DWORD)D3DBLENDOP_ADD, d[0].BlendOp);
    EXPECT_EQ(0u, d[0].AlphaTest);

    EXPECT_EQ(0u, d[1].AlphaBlend);
    EXPECT_EQ(1u, d[1].AlphaTest);
    EXPECT_EQ((DWORD)D3DCMP_GREATEREQUAL, d[1].AlphaFunc);

    EXPECT_EQ(1u, d[2].AlphaBlend);
    EXPECT_EQ((DWORD)D3DBLEND_SRCALPHA, d[2].SrcBlend);
    EXPECT_EQ((DWORD)D3DBLEND_ONE, d[2].DestBlend);
    EXPECT_EQ(0u, d[2].AlphaTest);

    EXPECT_EQ(0u, d[3].AlphaBlend);
    EXPECT_EQ(0u, d[3].AlphaTest);

    EXPECT_EQ(1u, d[4].AlphaTest);
    EXPECT_EQ((DWORD)D3DCMP_LESSEQUAL, d[4].AlphaFunc);
    EXPECT_EQ(77u, d[4].AlphaRef);

    // Alpha blending after additive: the renderer's pair wins.
    EXPECT_EQ(1u, d[5].AlphaBlend);
    EXPECT_EQ((DWORD)D3DBLEND_SRCALPHA, d[5].SrcBlend);
}

TEST_F(BatchTest, KindsOnlyHonourTheirFlags)
{
    uint32_t t = Texture(0xFF808080);
    // An alpha-tested, blended textured batch first: the coloured triangle
    // after it neither tests nor blends, the textured line blends.
    POLYSTRUCT first = Tri(t, ZRF_ALPHATEST | ZRF_ALPHABLEND);
    h->DrawPoly(&first);
    POLYSTRUCT coloured = ScreenTri(ZPRIM_COLORED, 0, ZRF_ALPHATEST | ZRF_ALPHABLEND);
    h->DrawPoly(&coloured);
    LINESTRUCT l = {};
    l.Kind = ZPRIM_TEXTURED;
    l.Texture = t;
    l.Flags = ZRF_ALPHATEST | ZRF_ALPHABLEND;
    h->DrawLine(&l);
    g.Frame();
    ASSERT_EQ(3u, hook.Draws.size());
    EXPECT_EQ(1u, hook.Draws[0].AlphaTest);
    EXPECT_EQ(0u, hook.Draws[1].AlphaTest);
    EXPECT_EQ(0u, hook.Draws[1].AlphaBlend);
    EXPECT_EQ(0u, hook.Draws[2].AlphaTest);
    EXPECT_EQ(1u, hook.Draws[2].AlphaBlend);
}

TEST_F(BatchTest, SecondTextureOperationAndTheBumpStageShift)
{
    uint32_t t1 = Texture(0xFF800000), t2 = Texture(0xFF008000), t3 = Texture(0xFF000080);
    struct { uint32_t Flags; DWORD Op; } const cases[] = {
        {ZRF_SECONDMAP, D3DTOP_ADD},
        {ZRF_SECONDENVIRONMENT | ZRF_OP_MODULATE, D3DTOP_MODULATE},
        {ZRF_SECONDMAP | ZRF_OP_SUBTRACT | ZRF_OP_MODULATE4X, D3DTOP_MODULATE4X},
        {ZRF_SECONDMAP | ZRF_OP_DOTPRODUCT3 | ZRF_OP_ADDSIGNED, D3DTOP_DOTPRODUCT3},
        {ZRF_SECONDMAP | ZRF_OP_ADDSIGNED2X, D3DTOP_ADDSIGNED2X},
        {ZRF_SECONDMAP | ZRF_OP_ADDSMOOTH, D3DTOP_ADDSMOOTH},
    };
    for (const auto& c : cases) {
        for (bool bump : {false, true}) {
            POLYSTRUCT p = Tri(t1, c.Flags | (bump ? ZRF_BUMP : 0));
            p.Texture2 = t2;
            p.Texture3 = t3;
            hook.Clear();
            h->DrawPoly(&p);
            g.Frame();
            SCOPED_TRACE(testing::Message() << "flags " << std::hex << c.Flags << " bump " << bump);
            ASSERT_EQ(1u, hook.Draws.size());
            const DWORD s = bump ? 2 : 1;
            EXPECT_EQ(c.Op, Tss(s, D3DTSS_COLOROP));
            EXPECT_EQ((DWORD)D3DTA_TEXTURE, Tss(s, D3DTSS_COLORARG1));
            EXPECT_EQ((DWORD)D3DTA_CURRENT, Tss(s, D3DTSS_COLORARG2));
            EXPECT_EQ(1u, Tss(s, D3DTSS_TEXCOORDINDEX));
            EXPECT_EQ((DWORD)D3DTOP_DISABLE, Tss(s, D3DTSS_ALPHAOP));
            EXPECT_EQ((DWORD)D3DTOP_SELECTARG1, Tss(0, D3DTSS_COLOROP));
            EXPECT_EQ((DWORD)D3DTA_TEXTURE, Tss(0, D3DTSS_COLORARG1));
            EXPECT_EQ(t1, hook.Draws[0].Texture[0]);
            EXPECT_EQ(t2, hook.Draws[0].Texture[s]);
            if (bump) {
                EXPECT_EQ(t3, hook.Draws[0].Texture[1]);
                EXPECT_EQ((DWORD)D3DTOP_BUMPENVMAP, Tss(1, D3DTSS_COLOROP));
                EXPECT_EQ((DWORD)D3DTA_TEXTURE, Tss(1, D3DTSS_COLORARG1));
                EXPECT_EQ(0u, Tss(1, D3DTSS_TEXCOORDINDEX));
                EXPECT_EQ(FloatBits(1.0f), Tss(1, D3DTSS_BUMPENVMAT00));
                EXPECT_EQ(FloatBits(0.0f), Tss(1, D3DTSS_BUMPENVMAT01));
                EXPECT_EQ(FloatBits(0.0f), Tss(1, D3DTSS_BUMPENVMAT10));
                EXPECT_EQ(FloatBits(1.0f), Tss(1, D3DTSS_BUMPENVMAT11));
            }
        }
    }
    // No second texture: stage 1 off and, within a frame, emptied.
    POLYSTRUCT bump = Tri(t1, ZRF_SECONDMAP | ZRF_BUMP);
    bump.Texture2 = t2;
    bump.Texture3 = t3;
    POLYSTRUCT p = Tri(t1);
    hook.Clear();
    h->DrawPoly(&bump);
    h->DrawPoly(&p);
    g.Frame();
    EXPECT_EQ((DWORD)D3DTOP_DISABLE, Tss(1, D3DTSS_COLOROP));
    EXPECT_EQ((DWORD)D3DTOP_DISABLE, Tss(1, D3DTSS_ALPHAOP));
    EXPECT_EQ((DWORD)D3DTOP_DISABLE, Tss(2, D3DTSS_COLOROP));
    ASSERT_EQ(2u, hook.Draws.size());
    EXPECT_EQ(0u, hook.Draws[1].Texture[1]);
}

TEST_F(BatchTest, ClampHoldsForItsBucketOnly)
{
    uint32_t t = Texture(0xFF808080);
    POLYSTRUCT clamped = Tri(t, ZRF_CLAMP);
    POLYSTRUCT wrapped = Tri(t);
    h->DrawPoly(&clamped);
    h->DrawPoly(&wrapped);
    g.Frame();
    ASSERT_EQ(2u, hook.Draws.size());
    EXPECT_EQ((DWORD)D3DTADDRESS_CLAMP, hook.Draws[0].AddressU);
    EXPECT_EQ((DWORD)D3DTADDRESS_WRAP, hook.Draws[1].AddressU);
    EXPECT_TRUE(h->WrappingOn);
}

TEST_F(BatchTest, CustomShaderConstantsAreUploadedAndMatricesPastTheLastRegisterAreNot)
{
    static ZH3D_SHADER shader;
    memset(&shader, 0, sizeof(shader));
    uint32_t t = Texture(0xFF808080);
    shader.Textures[3] = t;
    float v[4] = {1, 2, 3, 4};
    h->SetVSConstant((unsigned long)(uintptr_t)&shader, 0, v);
    h->SetVSClipMatrix((unsigned long)(uintptr_t)&shader, 4);
    // A matrix flag on the record's last register: four slots do not fit.
    shader.Constants[253].Kind = 1;
    shader.Constants[253].Set = 1;
    shader.Constants[253].x = 99;
    const float zero[4] = {0, 0, 0, 0};
    dev->SetVertexShaderConstantF(253, zero, 1);

    POLYSTRUCT p = Tri((uint32_t)(uintptr_t)&shader, ZRF_CUSTOMSHADER);
    h->DrawPoly(&p);
    g.Frame();
    ASSERT_EQ(1u, hook.Draws.size());
    float got[4 * 5];
    ASSERT_EQ(D3D_OK, dev->GetVertexShaderConstantF(0, got, 1));
    EXPECT_EQ(0, memcmp(v, got, sizeof(v)));
    ASSERT_EQ(D3D_OK, dev->GetVertexShaderConstantF(4, got, 4));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(0, memcmp(&shader.Constants[4 + i].x, got + i * 4, 16)) << "row " << i;
    ASSERT_EQ(D3D_OK, dev->GetVertexShaderConstantF(253, got, 1));
    EXPECT_EQ(0.0f, got[0]);
    EXPECT_EQ(0u, hook.Draws[0].Texture[0]) << "the record's stage 0 is empty";
    bool stage3 = false;
    for (const ZQSetTexture& s : hook.Textures)
        stage3 |= s.Stage == 3 && s.Texture == t;
    EXPECT_TRUE(stage3);
    EXPECT_EQ((DWORD)D3DTA_DIFFUSE, Tss(0, D3DTSS_COLORARG1));
    EXPECT_EQ((DWORD)D3DTOP_DISABLE, Tss(1, D3DTSS_COLOROP));
}


// ---------------------------------------------------------------------------
// Frames

TEST_F(BatchTest, TheEightKindsAreDrawnInTheirFixedOrder)
{
    // Queued in reverse: the order drawn is the renderer's own.
    POLYSTRUCT c2 = ScreenTri(ZPRIM_COLORED_2D, 0, 0);
    POLYSTRUCT t2 = ScreenTri(ZPRIM_TEXTURED_2D, 0, 0);
    POINTSTRUCT point = Point(5);
    LINESTRUCT lc = {}, l2 = {}, lt = {};
    lc.Kind = ZPRIM_COLORED;
    l2.Kind = ZPRIM_TEXTURED_2D;
    lt.Kind = ZPRIM_TEXTURED;
    POLYSTRUCT c = Tri(0);
    c.Kind = ZPRIM_COLORED;
    POLYSTRUCT t = Tri(0);
    h->DrawPoly(&c2);
    h->DrawPoly(&t2);
    h->DrawPoint(&point);
    h->DrawLine(&lc);
    h->DrawLine(&l2);
    h->DrawLine(&lt);
    h->DrawPoly(&c);
    h->DrawPoly(&t);
    g.Frame();
    const DWORD order[8] = {0x2D2, 0xD2, 0x112, 0x144, 0x52, 0x102, 0x244, 0x44};
    ASSERT_EQ(8u, hook.Draws.size());
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(order[i], hook.Draws[i].Fvf) << i;
}

// ---------------------------------------------------------------------------
// Pixels

class BatchPixels : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        // Winding is not what these tests are about.
        h->SetCullingState(false, false);
    }
};

TEST_F(BatchPixels, AdditiveTexturedScreenTriangleAddsToTheBackground)
{
    g.Vgs->ClearColor = 0xFF402010;
    POLYSTRUCT p = ScreenTri(ZPRIM_TEXTURED_2D, Texture(0xFF204060), ZRF_ADDITIVE);
    h->DrawPoly(&p);
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF606070, g.Pixel(20, 20), 3)) << std::hex << g.Pixel(20, 20);
}

TEST_F(BatchPixels, AlphaTestDropsTexelsOfAlphaZero)
{
    g.Vgs->ClearColor = 0xFF000040;
    // Top half of the texture (and of the screen) has alpha 0.
    POLYSTRUCT p = ScreenTri(ZPRIM_TEXTURED_2D, Texture(0xFF00C000, 2), ZRF_ALPHATEST);
    p.Vertex[1].x = p.Vertex[2].y = 256;
    p.Vertex[1].u = p.Vertex[2].v = 4;
    h->DrawPoly(&p);
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF000040, g.Pixel(10, 10))) << std::hex << g.Pixel(10, 10);
    EXPECT_TRUE(ZQ_Near(0xFF00C000, g.Pixel(10, 50))) << std::hex << g.Pixel(10, 50);
}

TEST_F(BatchPixels, UntexturedKindsAfterTexturedOnesShowTheirVertexColours)
{
    g.Vgs->ClearColor = 0xFF000000;
    // Alpha-tested texture with alpha 0 everywhere: draws nothing but leaves
    // alpha testing and the texture stage set up.
    uint32_t t = Texture(0xFF808080, 4);
    LINESTRUCT tl = {};
    tl.Kind = ZPRIM_TEXTURED_2D;
    tl.Texture = t;
    h->DrawLine(&tl);
    POLYSTRUCT first = ScreenTri(ZPRIM_TEXTURED, t, ZRF_ALPHATEST);
    h->DrawPoly(&first);
    // Vertex alpha 0: kept all the same, coloured kinds do no alpha test.
    POLYSTRUCT c = ScreenTri(ZPRIM_COLORED_2D, 0, 0, 0x0000C000);
    c.Vertex[1].x = 32;
    c.Vertex[2].y = 32;
    h->DrawPoly(&c);
    LINESTRUCT l = {};
    l.Kind = ZPRIM_COLORED;
    l.End[0] = LINEVERTEX{-10, -0.01f, 5, 0, 0, 0, 0, 0};
    l.End[1] = LINEVERTEX{10, -0.01f, 5, 0, 0, 0, 0, 0};
    l.Color0 = l.Color1 = 0xFFC00000;
    h->DrawLine(&l);
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF00C000, g.Pixel(5, 5))) << std::hex << g.Pixel(5, 5);
    // The line crosses the middle of the screen.
    uint32_t row[2] = {g.Pixel(50, 32), g.Pixel(50, 31)};
    EXPECT_TRUE(ZQ_Near(0xFFC00000, row[0]) || ZQ_Near(0xFFC00000, row[1]))
        << std::hex << row[0] << " " << row[1];
}

// The game's frame: sky, world, effects and overlay passes, clearing only
// before the sky and presenting only after the overlay.
TEST_F(BatchPixels, TheGamesFourPassFrame)
{
    g.Vgs->ClearColor = 0xFF000000;
    hook.Clear();
    const uint32_t colours[3] = {0xFFC00000, 0xFF00C000, 0xFF0000C0};
    for (int pass = 0; pass < 4; pass++) {
        const bool first = pass == 0, last = pass == 3;
        h->SetClearZBuffer(first);
        g.Vgs->SetClearBackBuffer(first);
        g.Vgs->SetPresent(last);
        if (last) {
            // What the three passes left, before the overlay presents.
            EXPECT_TRUE(ZQ_Near(colours[0], g.Pixel(60, 60))) << std::hex << g.Pixel(60, 60);
            EXPECT_TRUE(ZQ_Near(colours[1], g.Pixel(20, 20))) << std::hex << g.Pixel(20, 20);
            EXPECT_TRUE(ZQ_Near(colours[2], g.Pixel(5, 5))) << std::hex << g.Pixel(5, 5);
        } else {
            // Each pass covers less of the screen than the one before.
            POLYSTRUCT p = ScreenTri(ZPRIM_COLORED_2D, 0, 0, colours[pass]);
            const float reach[3] = {128, 64, 16};
            p.Vertex[1].x = p.Vertex[2].y = reach[pass];
            h->DrawPoly(&p);
        }
        g.Frame();
    }
    EXPECT_EQ("CBZEBEBEBEP", hook.Calls);
}

}  // namespace
