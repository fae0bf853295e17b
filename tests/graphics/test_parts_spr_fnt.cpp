// Particle systems, sprite pages and bitmap fonts, on screen.
#include <cstring>

#include "services_fixture.h"
#include "zfnt.h"
#include "zparts.h"
#include "zspr.h"

TEST_F(Services, ParticlesInsertMoveTurnAndDrawWhereExpected)
{
    CZParts* p = z->Parts;
    const unsigned long s = p->CreateSystem(2);
    Vector3 at = {0, 0, 0}, v = {0, 1, 0}, out;
    EXPECT_TRUE(p->InsertParts(s, &at, &v));
    EXPECT_TRUE(p->InsertParts(s, &at, &v));
    EXPECT_FALSE(p->InsertParts(s, &at, &v));
    Vector3 speeds = {1.9f, 0, 2.5f};
    p->SetParticleRotation(s, 0, &speeds);
    p->GetParticleRotation(s, 0, &out);
    EXPECT_EQ(1.0f, out.x);
    EXPECT_EQ(0.0f, out.y);
    EXPECT_EQ(2.0f, out.z);
    // Particle 1 switched off neither moves nor draws.
    p->SetParticleState(s, 1, false);
    p->MoveSystem(s);
    p->GetParticlePosition(s, 0, &out);
    EXPECT_EQ(1.0f, out.y);
    p->GetParticlePosition(s, 1, &out);
    EXPECT_EQ(0.0f, out.y);
    // An index past the count is refused, not read.
    const uint32_t refused = p->CallsRefused;
    EXPECT_FALSE(p->GetParticleState(s, 2));
    p->SetParticlePosition(s, 7, &at);
    EXPECT_EQ(refused + 2, p->CallsRefused);

    // Base (2, 0, 0), particle 0 back at the origin with angles 0: drawn at
    // x = 2, which is 2 / 10 of the half screen right of the centre.
    Vector3 base = {2, 0, 0};
    p->SetParticlePosition(s, 0, &at);
    p->SetSystemBase(s, &base);
    p->SetSystemTexture(s, Texture(0xFFFFFFFF));
    g.H3d->SetPointSizes(0.5f, 0.0f);
    const uint32_t queued = p->PointsQueued;
    p->DrawSystem(s);
    EXPECT_EQ(queued + 1, p->PointsQueued);
    Frame();
    EXPECT_GT(Count(376, 232, 392, 248, 0xFFFFFF), 50);
    EXPECT_EQ(0, Count(0, 0, 640, 200, 0xFFFFFF));
    EXPECT_EQ(0, Count(300, 200, 340, 280, 0xFFFFFF));
    p->DestroySystem(s);
}

TEST_F(Services, ParticleTableHoldsFourThousandSystems)
{
    std::vector<unsigned long> all;
    for (int i = 0; i < ZPARTS_MAX_SYSTEMS; i++)
        all.push_back(z->Parts->CreateSystem(1));
    EXPECT_NE(0u, all.back());
    EXPECT_EQ(0u, z->Parts->CreateSystem(1));
    z->Parts->DestroySystem(all[17]);
    EXPECT_EQ(all[17], z->Parts->CreateSystem(1));   // the freed entry and block again
    // The rest go with CZParts.
}

namespace {
// A page over the key fixture (top-left quadrant black = the key, then
// green / blue, white): sprite 0 the green quadrant, 2 x 2 units.
std::vector<uint8_t> Page(const char* texture, int sprites)
{
    std::vector<uint8_t> b(ZSPR_HEADER_BYTES + sprites * sizeof(ZSPR_RECORD), 0);
    memcpy(b.data(), texture, strlen(texture) + 1);
    const ZSPR_RECORD r = {{{0.5f, 0, 1, 1}, {1, 0, 1, 1}, {0.5f, 0.5f, 1, 1}, {1, 0.5f, 1, 1}}};
    for (int i = 0; i < sprites; i++)
        memcpy(b.data() + ZSPR_HEADER_BYTES + i * sizeof(r), &r, sizeof(r));
    return b;
}
}  // namespace

TEST_F(Services, SpritePagesLoadDrawAndRefuseWhatIsOutOfRange)
{
    CZSpr* spr = z->Spr;
    const std::string key = ZQ_GFX_FIXTURES "/key.bmp";
    const std::vector<uint8_t> one = Page(key.c_str(), 1), none = Page(key.c_str(), 0);
    File("spr_one.spr", one.data(), one.size());
    File("spr_none.spr", none.data(), none.size());
    File("spr_cut.spr", one.data(), 40);
    std::vector<uint8_t> open(one.size(), 'x');     // name not terminated
    File("spr_open.spr", open.data(), open.size());

    EXPECT_EQ(ZSPR_NO_PAGE, spr->LoadSpritesPage("spr_cut.spr", 0));
    EXPECT_EQ(ZSPR_NO_PAGE, spr->LoadSpritesPage("spr_open.spr", 0));
    const unsigned long empty = spr->LoadSpritesPage("spr_none.spr", 0);
    ASSERT_EQ(0u, empty);
    EXPECT_EQ(0u, spr->GetSpriteCount(empty));
    std::vector<unsigned long> pages;
    for (int i = 1; i < ZSPR_MAX_PAGES; i++)
        pages.push_back(spr->LoadSpritesPage("spr_one.spr", 0));
    EXPECT_EQ(19u, pages.back());
    EXPECT_EQ(ZSPR_NO_PAGE, spr->LoadSpritesPage("spr_one.spr", 0));   // a 21st
    EXPECT_GE(ZQ_CountLogLines("all 20 sprite pages are in use"), 1u);
    spr->FreeSpritesPage(empty);
    EXPECT_EQ(0u, spr->LoadSpritesPage("spr_one.spr", 0));

    // Out of range: nothing queued, refused.
    const uint32_t queued = g.H3d->PrimitivesQueued, refused = spr->CallsRefused;
    spr->DrawSprite(1, 1, 0, 0, 0, 0);
    spr->DrawSprite(ZSPR_MAX_PAGES, 0, 0, 0, 0, 0);
    spr->DrawSprite(0xFFFFFFFFu, 0, 0, 0, 0, 0);
    EXPECT_EQ(queued, g.H3d->PrimitivesQueued);
    EXPECT_EQ(refused + 3, spr->CallsRefused);

    // Sprite 0 at (-2, 0, 0): green from x = 256 - 32 to 256 + 32.
    spr->DrawSprite(1, 0, -2, 0, 0, ZRF_ALPHATEST);
    EXPECT_EQ(queued + 2, g.H3d->PrimitivesQueued);
    Frame();
    EXPECT_GT(Count(230, 214, 282, 266, 0x00FF00), 52 * 52 * 9 / 10);
    EXPECT_EQ(0, Count(0, 0, 640, 480, 0x00FF00) - Count(220, 204, 292, 276, 0x00FF00));
}

TEST_F(Services, FontsDrawGlyphByGlyphAndBoundTheirInput)
{
    CZFnt* fnt = z->Fnt;
    ASSERT_TRUE(fnt->Init(2));
    // Four glyphs over the quad fixture (red, green / blue, white), 0.5 wide:
    // 32 pixels at base size 64. No space glyph: a line break advances by
    // the tallest glyph. Code 300 is skipped; half a record at the end too.
    const ZFNT_RECORD recs[] = {{{0, 0, 0.5f, 0.5f}, 'A'},     {{0.5f, 0, 1, 0.5f}, 'B'},
                                {{0, 0.5f, 0.5f, 1}, 'C'},     {{0.5f, 0.5f, 1, 0.75f}, 'D'},
                                {{0.5f, 0.5f, 1, 1}, 300},     {{0, 0, 0.5f, 0.5f}, 'a'}};
    std::vector<uint8_t> file((const uint8_t*)recs, (const uint8_t*)recs + sizeof(recs));
    file.insert(file.end(), 10, 0);
    File("font_test.fnt", file.data(), file.size());
    File("font_empty.fnt", file.data(), 19);
    const unsigned long font = fnt->LoadFont((char*)"font_test.fnt");
    ASSERT_NE(0u, font);
    EXPECT_EQ(1u, fnt->RecordsSkipped);
    EXPECT_EQ(0u, fnt->LoadFont((char*)"font_empty.fnt"));
    const ZFNT_FONT* f = (const ZFNT_FONT*)(uintptr_t)font;
    EXPECT_TRUE(f->Glyphs['a'] && !f->Glyphs[' '] && !f->Glyphs[300 & 255]);
    fnt->SetTexture(font, g.H3d->LoadTextureFromFile((char*)ZQ_GFX_FIXTURES "/quad.bmp"), 0);
    fnt->SetBaseSize(font, 64);
    EXPECT_EQ(32.0f, fnt->LineHeight(font));

    // "AxB": x has no glyph and leaves no gap; "\r\n" and "\n\n" advance
    // one line each.
    fnt->DrawString(font, 100, 100, (char*)"AxB\r\nC\n\nD%d", 7);
    Frame();
    EXPECT_TRUE(ZQ_Near(At(116, 116), 0xFF0000, 40));
    EXPECT_TRUE(ZQ_Near(At(148, 116), 0x00FF00, 40));
    EXPECT_TRUE(ZQ_Near(At(116, 148), 0x0000FF, 40));
    EXPECT_TRUE(ZQ_Near(At(116, 170), 0xFFFFFF, 40));
    EXPECT_EQ(0u, At(116, 200));
    EXPECT_EQ(0u, At(180, 116));

    // Centred: each line on x by its own width.
    fnt->SetAlignement(ZFNT_ALIGN_CENTRE);
    fnt->DrawString(font, 320, 300, (char*)"AB\nC");
    Frame();
    EXPECT_TRUE(ZQ_Near(At(300, 316), 0xFF0000, 40));
    EXPECT_TRUE(ZQ_Near(At(340, 316), 0x00FF00, 40));
    EXPECT_TRUE(ZQ_Near(At(320 - 14, 348), 0x0000FF, 40));
    EXPECT_TRUE(ZQ_Near(At(320 + 14, 348), 0x0000FF, 40));
    EXPECT_EQ(0u, At(282, 348));

    // Longer text than the buffer is cut; other alignments draw nothing.
    const std::string longText(3000, 'A');
    const uint32_t drawn = fnt->GlyphsDrawn;
    fnt->DrawString(font, 0, 0, (char*)"%s", longText.c_str());
    EXPECT_EQ(drawn + ZFNT_TEXT_BYTES - 1, fnt->GlyphsDrawn);
    fnt->SetAlignement(3);
    fnt->DrawString(font, 0, 0, (char*)"AB");
    EXPECT_EQ(drawn + ZFNT_TEXT_BYTES - 1, fnt->GlyphsDrawn);
    g.H3d->UnloadTexture(f->Texture);
}
