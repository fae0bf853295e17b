// The full-screen pictures: menu and credits (opaque, faded in turn), the
// start and win banners and the automatic-mode caption (drawn additively:
// light on black, black is see-through), and the end picture.
#include "pictures.h"
#include "rng.h"

#include <cmath>

static const int CG_SCREEN_TEX_W = 1024, CG_SCREEN_TEX_H = 512;

std::vector<std::string> CgScreenNames()
{
    return {"data\\menu.jpg", "data\\credits.jpg", "data\\start.jpg",
            "data\\win.jpg",  "data\\automatic.jpg", "data\\end.jpg"};
}

static CgTextLook CG_Plain(int hex)
{
    CgTextLook l;
    l.Top = l.Bottom = CgRgb(hex);
    return l;
}

static CgTextLook CG_Shadowed(int hex)
{
    CgTextLook l = CG_Plain(hex);
    l.ShadowOffset = 2;
    l.ShadowOpacity = 0.8f;
    return l;
}

static CgImage CG_Menu(const CgFonts& f)
{
    CgImage c = CgCanvas();
    CgSunset(c, f, 292, 96, CgRgb(0xFF3CB4), 0.3f, 146, 94, 11);
    CgTextLook tag = CG_Shadowed(0xFFE8C8);
    tag.Tracking = 1.0f;
    CgDrawText(c, f.Bold, "the demoparty by the sea  \xC2\xB7  " CG_DATES, 19, 320, 222, CG_CENTER, tag);
    CgDrawText(c, f.Sans, CG_VENUE "  \xC2\xB7  " CG_TOWN, 17, 320, 248, CG_CENTER, CG_Shadowed(0xFFD8E8));

    // Kept above the HUD frame's bottom bar, which lies over every screen.
    CgPanel(c, 36, 318, 568, 112, 0.82f);
    int x = 62;
    x += CgKeyHint(c, f, x, 354, "I", "play the invitation", 17) + 26;
    x += CgKeyHint(c, f, x, 354, "A", "automatic", 17) + 26;
    CgKeyHint(c, f, x, 354, "ESC", "quit", 17);
    CgTextLook help = CG_Plain(0xBFD4F0);
    CgDrawText(c, f.Sans, "Arrows walk and turn, SPACE shoots. Fifteen guards patrol the", 15, 62, 388, CG_LEFT, help);
    CgDrawText(c, f.Sans, "hall: reach the exit, beat the clock, every death costs 5 s.", 15, 62, 410, CG_LEFT, help);
    CgCrt(c, 101);
    return c;
}

// A slow plasma in deep blues: the credits' background.
static void CG_Plasma(CgImage& c)
{
    CgShade(c, [&](int x, int y, float* p) {
        float u = x / 640.0f, v = y / 480.0f;
        float s = std::sin(u * 7.0f + std::sin(v * 5.0f) * 1.5f) + std::sin(v * 9.0f - u * 3.0f) +
                  std::sin(std::hypot(u - 0.7f, v - 0.3f) * 14.0f);
        float k = 0.5f + 0.5f * std::sin(s * 1.3f);
        CgColor col = CgMix(CgRgb(0x040616), CgRgb(0x1A1048), k);
        col = CgMix(col, CgRgb(0x0E2A50), 0.5f * (1.0f - v));
        p[0] = col.r;
        p[1] = col.g;
        p[2] = col.b;
    });
}

static CgImage CG_Credits(const CgFonts& f)
{
    CgImage c = CgCanvas();
    CG_Plasma(c);
    CgStars(c, 480, 160, 23, 0.6f);
    // Everything stays clear of the HUD frame's bars (the top 26 and the
    // bottom 30 rows), which lie over every screen.
    CgLogo(c, f, 320, 72, 56);
    CgPanel(c, 28, 100, 282, 222, 0.8f);
    CgPanel(c, 330, 100, 282, 222, 0.8f, CgRgb(0xFFB070));

    CgTextLook head = CG_Plain(0xFFD27A);
    head.Tracking = 2.0f;
    CgTextLook role = CG_Plain(0x8FB4E0);
    CgTextLook name = CG_Plain(0xFFFFFF);
    auto column = [&](int x, const char* title, const char* const* rows, int n) {
        CgDrawText(c, f.Bold, title, 15, x, 126, CG_LEFT, head);
        for (int i = 0; i < n; i++) {
            CgDrawText(c, f.Sans, rows[2 * i], 12, x, 152 + i * 33, CG_LEFT, role);
            CgDrawText(c, f.Bold, rows[2 * i + 1], 16, x, 170 + i * 33, CG_LEFT, name);
        }
    };
    const char* invitation[] = {"code", "Tortell / Morva",       "graphics", "Pixelgat / Morva",
                                "music and sound", "Nyam / Morva",  "engine", "Zarquel V3.0",
                                "tested by", "the whole bar at 4 am"};
    const char* party[] = {"main organising", "Brolmeister",        "competitions", "Rovell and Pixelgat",
                           "network and power", "Llampec",          "sound and light", "Xiulet",
                           "bar and paella", "Avi Brol and family"};
    column(48, "THE INVITATION", invitation, 5);
    column(350, "THE PARTY", party, 5);

    CgTextLook greet = CG_Shadowed(0xE8F0FF);
    CgDrawText(c, f.Bold, "GREETINGS", 15, 320, 352, CG_CENTER, head);
    CgDrawText(c, f.Sans, "Cobalt Hamster \xC2\xB7 Vectorsopa \xC2\xB7 Lo-Fi Lemmings \xC2\xB7 Quadratic Owls \xC2\xB7 Sinus Fiesta",
               14, 320, 377, CG_CENTER, greet);
    CgDrawText(c, f.Sans, "Nullbyte Sisters \xC2\xB7 Rasterbar Cowboys \xC2\xB7 Octree Pirates \xC2\xB7 Triangulo Rosa",
               14, 320, 399, CG_CENTER, greet);
    CgDrawText(c, f.Sans, "and everyone who ever carried a CRT up the stairs of a party hall", 13, 320, 425, CG_CENTER,
               CG_Plain(0x9FB0D0));
    CgCrt(c, 102);
    return c;
}

// Light on black, for the additive banners: a big word with a hot glow and
// a line under it.
static CgImage CG_Banner(const CgFonts& f, const char* word, const char* line, int hotHex, int glowHex, float px)
{
    CgImage c = CgCanvas();
    CgTextLook big;
    big.Top = CgRgb(0xFFFFFF);
    big.Bottom = CgRgb(hotHex);
    big.GlowRadius = px * 0.14f;
    big.Glow = CgRgb(glowHex);
    big.GlowStrength = 1.1f;
    big.Tracking = px * 0.04f;
    big.Mode = CG_ADD;
    CgDrawText(c, f.Bold, word, px, 320, 250, CG_CENTER, big);
    // Light streaks left and right of the word.
    int w = CgTextWidth(f.Bold, word, px, big.Tracking);
    for (int side = -1; side <= 1; side += 2) {
        float x0 = 320 + side * (w / 2 + 14.0f), x1 = 320 + side * 316.0f;
        CgLine(c, x0, 214, x1, 214, 3.0f, CgRgb(glowHex), 0.5f, CG_ADD);
        CgLine(c, x0, 214, x1, 214, 1.0f, CgRgb(0xFFFFFF), 0.6f, CG_ADD);
    }
    CgTextLook small;
    small.Top = small.Bottom = CgRgb(0xE0E8FF);
    small.GlowRadius = 4.0f;
    small.Glow = CgRgb(glowHex);
    small.GlowStrength = 0.6f;
    small.Tracking = 3.0f;
    small.Mode = CG_ADD;
    CgDrawText(c, f.Bold, line, 20, 320, 300, CG_CENTER, small);
    CgClamp(c);
    return c;
}

static CgImage CG_Automatic(const CgFonts& f)
{
    // Over the flying camera: only a caption at the bottom and a corner
    // mark, the rest black (see-through).
    CgImage c = CgCanvas();
    CgLogo(c, f, 112, 60, 30, true);
    CgTextLook rec;
    rec.Top = rec.Bottom = CgRgb(0xFF3030);
    rec.Mode = CG_ADD;
    rec.GlowRadius = 4;
    rec.Glow = CgRgb(0xFF2020);
    CgDisc(c, 560, 44, 7, 1.5f, CgRgb(0xFF2A2A), 1.0f, CG_ADD);
    CgDrawText(c, f.Bold, "AUTO", 18, 574, 51, CG_LEFT, rec);
    CgTextLook cap;
    cap.Top = cap.Bottom = CgRgb(0xD8E4FF);
    cap.Mode = CG_ADD;
    cap.Tracking = 2.0f;
    // Above the HUD frame's bottom bar.
    CgRect(c, 40, 392, 560, 1, CgRgb(0x4A6AA0), 0.8f, CG_ADD);
    CgDrawText(c, f.Bold, CG_PARTY "  \xC2\xB7  " CG_DATES "  \xC2\xB7  " CG_TOWN, 14, 320, 414, CG_CENTER, cap);
    CgDrawText(c, f.Sans, "watch the TV for the party news  \xC2\xB7  ESC back to the menu", 13, 320, 434, CG_CENTER,
               cap);
    CgClamp(c);
    return c;
}

static CgImage CG_End(const CgFonts& f)
{
    CgImage c = CgCanvas();
    CgSunset(c, f, 350, 52, CgRgb(0x3CC8FF), 0.7f, 130, 84, 31);
    CgDrawText(c, f.Bold, "see you at the party!", 30, 320, 220, CG_CENTER, CG_Shadowed(0xFFFFFF));
    CgDrawText(c, f.Sans, CG_DATES "  \xC2\xB7  " CG_VENUE, 17, 320, 256, CG_CENTER, CG_Shadowed(0xFFE0C8));
    CgDrawText(c, f.Sans, CG_TOWN "  \xC2\xB7  " CG_WEB "  \xC2\xB7  " CG_IRC, 15, 320, 282, CG_CENTER,
               CG_Shadowed(0xFFD0E0));
    CgDrawText(c, f.Sans, "an invitation by Morva", 13, 320, 462, CG_CENTER, CG_Plain(0x8FA0C8));
    CgCrt(c, 106);
    return c;
}

void CgBuildScreens(CgSink& out)
{
    const CgFonts& f = out.Fonts;
    auto put = [&](const char* name, const CgImage& canvas) {
        out.Jpeg(name, CgTexture(canvas, CG_SCREEN_TEX_W, CG_SCREEN_TEX_H), 92, true);
    };
    put("data\\menu.jpg", CG_Menu(f));
    put("data\\credits.jpg", CG_Credits(f));
    put("data\\start.jpg", CG_Banner(f, "GO!", "FIND THE EXIT  \xC2\xB7  BEAT THE CLOCK", 0x7AE8FF, 0x2A8CFF, 150));
    put("data\\win.jpg", CG_Banner(f, "EXIT!", "YOU MADE IT TO BROLFEST 2004", 0xFFD04A, 0xFF5A1A, 140));
    put("data\\automatic.jpg", CG_Automatic(f));
    put("data\\end.jpg", CG_End(f));
}
