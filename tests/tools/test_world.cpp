// The scene-file scanner and the sprite-page and font records (the engine's
// own code, built natively with AddressSanitizer) against the host writers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "world.h"
#include "zsprfile.h"
#include "zw3d_text.h"

namespace {

struct Scan {
    explicit Scan(const std::string& file) : buf(file.size() + 1)
    {
        ZW3D_Normalise(file.data(), (uint32_t)file.size(), buf.data(), &t);
    }
    std::vector<std::string> Tokens()
    {
        std::vector<std::string> out;
        char tok[ZW3D_TOKEN_BYTES];
        while (ZW3D_Token(&t, tok))
            out.push_back(tok);
        return out;
    }
    std::vector<char> buf;
    ZW3D_TEXT t;
};

}  // namespace

TEST(SceneText, TokensSeparatorsCarriageReturnsAndTheEnd)
{
    const std::string file = std::string("a b\r\nc  d \n\re", 14) + std::string("\0f g", 4);
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "", "d", "", "e"}), Scan(file).Tokens());
    // A token over 511 characters is cut there and counted; the next one is whole.
    Scan s(std::string(600, 'x') + " y");
    EXPECT_EQ((std::vector<std::string>{std::string(511, 'x'), "y"}), s.Tokens());
    EXPECT_EQ(1u, s.t.TokensCut);
}

TEST(SceneText, KeysAreFirstSubstringsAndReadingGoesOnAtTheNextLine)
{
    Scan s("x.3do rock\nrockets\nrock\nCOLORED 255 65280 16711680 GLENZENVIRONMENT\nTEXTURED t.jpg -\nODD\n"
           "TEXTURED t.jpg");
    ASSERT_TRUE(ZW3D_FindKey(&s.t, "rock", true));
    ASSERT_TRUE(ZW3D_FindKey(&s.t, "rock", false));   // inside "rockets": the first match wins
    char tok[ZW3D_TOKEN_BYTES];
    ASSERT_TRUE(ZW3D_Token(&s.t, tok));
    EXPECT_STREQ("rock", tok);
    ZW3D_ENTRY e;
    ZW3D_ReadEntry(&s.t, &e);
    ASSERT_EQ(ZW3D_ENTRY_COLORED, e.Kind);
    EXPECT_EQ(255u, e.Color[0]);
    EXPECT_EQ(65280u, e.Color[1]);
    EXPECT_EQ(16711680u, e.Color[2]);
    EXPECT_EQ(0x05u, e.Flags);
    ZW3D_ReadEntry(&s.t, &e);
    ASSERT_EQ(ZW3D_ENTRY_TEXTURED, e.Kind);
    EXPECT_STREQ("t.jpg", e.Name);
    EXPECT_EQ(0u, e.Flags);
    ZW3D_ReadEntry(&s.t, &e);
    EXPECT_EQ(ZW3D_ENTRY_OTHER, e.Kind);
    ZW3D_ReadEntry(&s.t, &e);   // the text ends before the option token
    EXPECT_EQ(ZW3D_ENTRY_END, e.Kind);
    EXPECT_FALSE(ZW3D_FindKey(&s.t, "absent", true));
    EXPECT_FALSE(ZW3D_FindKey(&s.t, "", true));
    EXPECT_EQ(0x02u, ZW3D_OptionFlags("COLORKEY"));
    EXPECT_EQ(0u, ZW3D_OptionFlags("-"));
}

TEST(SceneText, WrittenScenesReadBackAndAmbiguousKeysAreRefused)
{
    std::string text;
    ASSERT_EQ("", WorldBuildScene({{"a.3do", "alpha", {"TEXTURED t.bmp COLORKEY", "COLORED -1 2 3 -"}},
                                   {"b.3do", "beta", {}}},
                                  {"t.bmp"}, &text));
    Scan s(text);
    char a[ZW3D_TOKEN_BYTES], b[ZW3D_TOKEN_BYTES];
    ASSERT_TRUE(ZW3D_FindKey(&s.t, "[OBJECTS]", true));
    std::vector<std::string> pairs;
    while (ZW3D_Token(&s.t, a) && a[0] && ZW3D_Token(&s.t, b) && b[0])
        pairs.push_back(std::string(a) + "=" + b);
    EXPECT_EQ((std::vector<std::string>{"a.3do=alpha", "b.3do=beta"}), pairs);
    ASSERT_TRUE(ZW3D_FindKey(&s.t, "alpha", true) && ZW3D_FindKey(&s.t, "alpha", false));
    ZW3D_ENTRY e;
    ZW3D_ReadEntry(&s.t, &e);
    EXPECT_EQ(ZW3D_ENTRY_TEXTURED, e.Kind);
    EXPECT_EQ(0x02u, e.Flags);
    ZW3D_ReadEntry(&s.t, &e);
    EXPECT_EQ(ZW3D_ENTRY_COLORED, e.Kind);
    EXPECT_EQ(0xFFFFFFFFu, e.Color[0]);
    // "ab" occurs inside "cab.3do" before its own entry.
    EXPECT_NE("", WorldBuildScene({{"cab.3do", "ab", {}}}, {}, &text));
    EXPECT_NE("", WorldBuildScene({{"a b.3do", "k", {}}}, {}, &text));
}

TEST(SpriteAndFontRecords, PagesAndFontsWrittenAndReadBack)
{
    std::vector<uint8_t> page;
    ASSERT_EQ("", WorldBuildSpritePage("s.bmp", 64, 32, {{0, 0, 32, 32, 2.0f}, {32, 0, 32, 16, 2.0f}}, &page));
    ASSERT_EQ(72u + 2 * 64, page.size());
    EXPECT_EQ(2, ZSPR_PageSprites(page.data(), (uint32_t)page.size()));
    ZSPR_RECORD r;
    memcpy(&r, page.data() + 72 + 64, sizeof(r));
    EXPECT_FLOAT_EQ(0.5f, r.Corner[0].u);
    EXPECT_FLOAT_EQ(0.5f, r.Corner[3].v);
    EXPECT_FLOAT_EQ(0.5f, r.Corner[3].dy);   // half as tall as wide
    EXPECT_EQ(0, ZSPR_PageSprites(page.data(), 72));
    EXPECT_EQ(1, ZSPR_PageSprites(page.data(), 72 + 64 + 63));   // a cut record is no sprite
    EXPECT_EQ(-1, ZSPR_PageSprites(page.data(), 71));
    std::vector<uint8_t> bad(72, 'a');
    EXPECT_EQ(-1, ZSPR_PageSprites(bad.data(), 72));             // name not terminated
    EXPECT_NE("", WorldBuildSpritePage("s.bmp", 64, 32, {{40, 0, 32, 32, 1.0f}}, &page));

    WorldImage image;
    std::vector<uint8_t> font;
    ASSERT_EQ("", WorldBuildFont(ZQ_FONTS "/DejaVuSans.ttf", 20, 256, 32, 126, &image, &font));
    ASSERT_EQ(95u * 20, font.size());
    // A record for code 300 and half a record behind.
    const ZFNT_RECORD high = {{0, 0, 1, 1}, 300};
    font.insert(font.end(), (const uint8_t*)&high, (const uint8_t*)&high + 20);
    font.insert(font.end(), 10, 0);
    ZFNT_GLYPH g[ZFNT_GLYPHS];
    uint8_t present[ZFNT_GLYPHS] = {};
    EXPECT_EQ(1u, ZFNT_ParseFont(font.data(), (uint32_t)font.size(), g, present));
    for (int c = 0; c < ZFNT_GLYPHS; c++)
        EXPECT_EQ(c >= 32 && c <= 126, present[c] != 0) << c;
    EXPECT_GT(g[' '].Bottom, g[' '].Top);
    EXPECT_GT(g['W'].Right - g['W'].Left, g['i'].Right - g['i'].Left);
    // 'H' has lit pixels inside its cell.
    int lit = 0;
    for (int y = (int)(g['H'].Top * 256); y < (int)(g['H'].Bottom * 256); y++)
        for (int x = (int)(g['H'].Left * 256); x < (int)(g['H'].Right * 256); x++)
            lit += image.Px[y * 256 + x] > 0x808080;
    EXPECT_GT(lit, 20);
    EXPECT_NE("", WorldBuildFont(ZQ_FONTS "/DejaVuSans.ttf", 60, 64, 32, 126, &image, &font));   // does not fit
    EXPECT_NE("", WorldBuildFont("/nonexistent.ttf", 20, 256, 32, 126, &image, &font));
}
