// The in-scene television: ten frames of noise (the second texture, added
// smoothly over the page: they stay dark so the page reads through them)
// and eighteen text pages in the style of a teletext service, each a page
// of the invitation.
#include "pictures.h"
#include "rng.h"

#include <algorithm>
#include <cmath>

static const int CG_NOISE_TEX = 256, CG_NOISE_FRAMES = 10;

std::vector<std::string> CgTvNames()
{
    std::vector<std::string> names = CgNumbered("data\\ruidotele\\%04d.jpg", 1, CG_NOISE_FRAMES);
    std::vector<std::string> pages = CgNumbered("data\\textos\\texto%02d.jpg", 1, CG_PAGE_COUNT);
    names.insert(names.end(), pages.begin(), pages.end());
    return names;
}

// A page: title, then lines; a line may start with a colour mark:
// "^y" yellow, "^c" cyan, "^g" green (teletext's own colours).
#define CG_PAGE_LINES 10   // what fits under the title at the smallest size

struct CG_Page {
    const char* Title;
    const char* Lines[CG_PAGE_LINES];
};

static const CG_Page CG_PAGES[CG_PAGE_COUNT] = {
    {"WELCOME",
     {"Morva invites you to", "^yBROLFEST 2004", "the demoparty by the sea", "",
      "^cFriday 23 to Sunday 25 July", "Pavell\xC3\xB3 Municipal Les Brolles", "Santa Brolla de Mar", "",
      "Three days of demos, music, art", "and very little sleep."}},
    {"WHEN",
     {"Doors open   Fri 23 July 16:00", "Opening      Fri 23 July 20:00", "Compos       Sat 24 July 18:00",
      "Prizes       Sun 25 July 14:00", "Doors close  Sun 25 July 17:00", "",
      "^cThe hall is open day and night.", "^cBring a sleeping bag anyway."}},
    {"WHERE",
     {"Pavell\xC3\xB3 Municipal Les Brolles", "Carrer del Far 12", "Santa Brolla de Mar", "",
      "Five minutes from the station,", "two minutes from the beach.", "", "^cLook for the big blue hall",
      "^cbehind the lighthouse."}},
    {"GETTING THERE",
     {"^yBy train:", "regional line R14, every hour,", "stop Santa Brolla de Mar.", "^yBy car:",
      "coast road, exit 31, then follow", "the signs. Free parking.", "^yBy bus from the airport:",
      "line 7, the last one at 23:40."}},
    {"ENTRANCE",
     {"Whole weekend          25 EUR", "One day                15 EUR", "Visitors without a PC   5 EUR",
      "Sceners under 16         free", "", "Pay at the door, cash only.", "^cYour ticket is a wristband:",
      "^cdo not lose it at the beach."}},
    {"FACILITIES",
     {"230 V power at every seat", "100 Mbit switched network", "2 Mbit line to the internet",
      "Big screen, 6 kW sound system", "Sleeping hall, lights out", "Showers in the sports wing",
      "Bar open around the clock", "^ySaturday night: giant paella!"}},
    {"COMPETITIONS",
     {"PC demo            max 20 MB", "PC 64k intro", "PC 4k intro", "Oldskool demo      8/16-bit",
      "Tracked music      4 minutes", "Streamed music     5 minutes", "Pixel graphics", "Rendered graphics",
      "^yWild               anything!"}},
    {"DEMO AND INTROS",
     {"PC demo: Windows XP, DirectX 9,", "20 MB packed, 8 minutes at most.", "64k and 4k intros: one file,",
      "every byte counts, nothing", "loaded from the internet.", "", "^cCompo PC: 3 GHz, 1 GB RAM,",
      "^cDirectX 9 card, 5.1 sound."}},
    {"MUSIC",
     {"Tracked: XM, IT, S3M or MOD,", "4 minutes, your own samples.", "Streamed: OGG or MP3, 192 kbit,",
      "5 minutes at most.", "", "Played loud on the big rig.", "^yFast music on Saturday:",
      "^yone hour, one sample pack."}},
    {"GRAPHICS",
     {"Pixel: drawn by hand, 1024x768,", "bring four work stages.", "Rendered: any 3D package,",
      "1600x1200, no photos.", "", "^cFast graphics on Saturday:", "^ctwo hours, theme at the start."}},
    {"WILD",
     {"Anything that is not a PC demo:", "consoles, calculators, videos,", "robots, oscilloscopes, toasters.",
      "", "Show it to the orgas before", "Saturday 12:00 and we find a", "way to put it on the screen."}},
    {"RULES",
     {"1  Entries by Saturday 12:00.", "2  One entry per compo & group.", "3  Be at the party yourself.",
      "4  Nothing shown anywhere before.", "5  Vote with your ticket code.", "6  In doubt, the orgas decide.",
      "", "^yLate entries only with cake."}},
    {"PRIZES",
     {"Over 3000 EUR in prizes:", "1st PC demo           600 EUR", "1st 64k intro         300 EUR",
      "1st 4k intro          200 EUR", "1st music, graphics   150 EUR", "plus hardware and T-shirts.", "",
      "^cEvery entry gets a bottle", "^cof local wine. Really."}},
    {"SATURDAY",
     {"11:00  breakfast and coffee", "12:00  entry deadline", "14:00  seminars", "16:00  fast compos",
      "18:00  graphics and music", "20:00  paella on the terrace", "22:00  4k, 64k and demo compos",
      "^g01:00  live act: Bitcrusher DJs"}},
    {"SEMINARS",
     {"^ySat 14:00", "Size coding: a world in 4k", "^ySat 15:00", "Tracking with synthesized",
      "instruments", "^ySun 11:00", "Shaders for beginners, with", "coffee and croissants", "",
      "^cSpeakers wanted: tell the orgas!"}},
    {"GREETINGS",
     {"Cobalt Hamster", "Vectorsopa", "Lo-Fi Lemmings", "Quadratic Owls", "Sinus Fiesta", "Nullbyte Sisters",
      "Rasterbar Cowboys", "Octree Pirates", "^yTriangulo Rosa ... and you!"}},
    {"CONTACT",
     {"Web   " CG_WEB, "IRC   " CG_IRC, "Mail  orgas@brolfest.example", "", "Main orga  Brolmeister",
      "Compos     Rovell", "Network    Llampec", "", "^yNeed a place to sleep? Ask!"}},
    {"THIS INVITATION",
     {"Arrows  walk and turn", "SPACE   shoot", "Reach the exit, beat the clock:", "each death adds 5 seconds.",
      "Your time goes to the score", "board under your handle.", "", "^cCode Tortell, gfx Pixelgat,",
      "^cmusic Nyam. See you there!"}},
};

static CgImage CG_TextPage(const CgFonts& f, int index, std::vector<std::string>* errors)
{
    const CG_Page& page = CG_PAGES[index];
    CgImage c = CgCanvas();
    CgFillVertical(c, CgRgb(0x000A24), CgRgb(0x000208));

    // Header bar: page number, service name, counter.
    CgRect(c, 0, 0, 640, 48, CgRgb(0x0030A0));
    CgRect(c, 0, 48, 640, 4, CgRgb(0x00C8FF));
    CgTextLook white;
    white.Top = white.Bottom = CgRgb(0xFFFFFF);
    CgTextLook yellow;
    yellow.Top = yellow.Bottom = CgRgb(0xFFE83C);
    char number[16];
    snprintf(number, sizeof(number), "P%d", 101 + index);
    CgDrawText(c, f.MonoBold, number, 24, 20, 34, CG_LEFT, yellow);
    CgDrawText(c, f.MonoBold, "BROLFEST TXT", 24, 320, 34, CG_CENTER, white);
    snprintf(number, sizeof(number), "%d/%d", index + 1, CG_PAGE_COUNT);
    CgDrawText(c, f.MonoBold, number, 24, 620, 34, CG_RIGHT, white);

    // Title in double height, as teletext did it, then a band of mosaic
    // blocks in the service's colours.
    CgText title = CgSetText(f.MonoBold, page.Title, 30, 0, 0);
    CgMask tall = CgResampleMask(title.Mask, title.Mask.W, title.Mask.H * 3 / 2);
    CgPaint(c, tall, 24, 66, CgRgb(0xFFE83C));
    const int band = CG_PAGE_BODY_TOP - 12;
    for (int i = 0; i < 32; i++) {
        static const int colours[] = {0x00C8FF, 0xFF3CA0, 0xFFE83C, 0x3CFF6A};
        CgRect(c, 24 + i * 18, band, 14, 6, CgRgb(colours[(i + index) % 4]));
    }

    // Body: the longest line sets the size, within the margins.
    const char* const* lines = page.Lines;
    int count = 0;
    while (count < CG_PAGE_LINES && lines[count])
        count++;
    float px = 25;
    for (int i = 0; i < count; i++) {
        const char* text = lines[i][0] == '^' ? lines[i] + 2 : lines[i];
        while (px > CG_PAGE_MIN_PX && CgTextWidth(f.MonoBold, text, px) > 640 - 2 * 28)
            px -= 0.5f;
        if (CgTextWidth(f.MonoBold, text, px) > 640 - 2 * 28)
            errors->push_back(std::string("TV page ") + page.Title + ": line too long at the smallest size: " + text);
    }
    const int top = CG_PAGE_BODY_TOP + 28;
    const float step = std::min(px * 1.42f, (470.0f - top) / std::max(1, count - 1));
    for (int i = 0; i < count; i++) {
        const char* text = lines[i];
        CgColor colour = CgRgb(0xFFFFFF);
        if (text[0] == '^') {
            colour = text[1] == 'y' ? CgRgb(0xFFE83C) : text[1] == 'c' ? CgRgb(0x3CE8FF) : CgRgb(0x5CFF7A);
            text += 2;
        }
        CgTextLook look;
        look.Top = look.Bottom = colour;
        CgDrawText(c, f.MonoBold, text, px, 28, top + (int)(i * step), CG_LEFT, look);
    }
    CgScanlines(c, 2, 0.12f);
    CgClamp(c);
    return c;
}

// Static: grain stretched along the lines, a brighter band that rolls down
// from frame to frame, and a little colour. Kept dark: the set adds it
// over the page.
static CgImage CG_Noise(int frame)
{
    CgRng rng(1000 + frame);
    CgImage c(CG_NOISE_TEX, CG_NOISE_TEX);
    const float band = (frame + 0.5f) / CG_NOISE_FRAMES;
    for (int y = 0; y < c.H; y++) {
        float v = (float)y / c.H;
        float d = std::fabs(v - band);
        d = std::min(d, 1.0f - d);
        float roll = std::exp(-d * d * 220.0f);
        float lineGain = 0.75f + 0.5f * rng.Unit();
        float held = 0;
        for (int x = 0; x < c.W; x++) {
            // Each sample is held a little along the line, as a TV's
            // bandwidth smears static sideways.
            if (x == 0 || rng.Unit() < 0.55f)
                held = rng.Unit();
            float n = held * held * (0.20f + 0.30f * roll) * lineGain;
            float* p = c.At(x, y);
            p[0] = n * 0.92f;
            p[1] = n * 0.96f;
            p[2] = n * 1.1f;
        }
    }
    CgScanlines(c, 2, 0.35f);
    CgClamp(c);
    return c;
}

void CgBuildTv(CgSink& out)
{
    char name[CG_MAX_NAME + 1];
    for (int i = 0; i < CG_NOISE_FRAMES; i++) {
        snprintf(name, sizeof(name), "data\\ruidotele\\%04d.jpg", i + 1);
        out.Jpeg(name, CG_Noise(i), 85);
    }
    for (int i = 0; i < CG_PAGE_COUNT; i++) {
        snprintf(name, sizeof(name), "data\\textos\\texto%02d.jpg", i + 1);
        out.Jpeg(name, CgTexture(CG_TextPage(out.Fonts, i, &out.Errors), CG_PAGE_TEX, CG_PAGE_TEX), 92, true);
    }
}
