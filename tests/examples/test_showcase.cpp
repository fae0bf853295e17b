// Runs zqshowcase headless and looks for what it draws in its screenshots:
// the text line, the red and green sprites, the floor's checker, the
// particles, and a camera that moved between the shots.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Shot {
    int W = 0, H = 0;
    std::vector<uint32_t> Px;   // 0xRRGGBB, top row first
    uint32_t At(int x, int y) const { return Px[(size_t)y * W + x]; }
};

bool ReadBmp(const std::string& path, Shot* s)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t head[54];
    bool ok = fread(head, 1, 54, f) == 54 && head[0] == 'B' && head[28] == 24;
    if (ok) {
        memcpy(&s->W, head + 18, 4);
        memcpy(&s->H, head + 22, 4);
        ok = s->W == 640 && s->H == 480;
    }
    if (ok) {
        const int row = (s->W * 3 + 3) & ~3;
        std::vector<uint8_t> line(row);
        s->Px.resize((size_t)s->W * s->H);
        for (int y = s->H - 1; y >= 0 && ok; y--) {
            ok = fread(line.data(), 1, row, f) == (size_t)row;
            for (int x = 0; x < s->W; x++)
                s->Px[(size_t)y * s->W + x] = line[x * 3 + 2] << 16 | line[x * 3 + 1] << 8 | line[x * 3];
        }
    }
    fclose(f);
    return ok;
}

int Channel(uint32_t p, int shift)
{
    return (p >> shift) & 255;
}

// Pixels in the rectangle for which `test` holds.
template <class F> int Count(const Shot& s, int x0, int y0, int x1, int y1, F test)
{
    int n = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            n += test(s.At(x, y)) ? 1 : 0;
    return n;
}

bool Near(uint32_t p, uint32_t rgb, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (abs(Channel(p, shift) - Channel(rgb, shift)) > tolerance)
            return false;
    return true;
}

}  // namespace

TEST(Showcase, HeadlessRunDrawsEveryElement)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    const std::string dir = std::string(temp) + "zqshowcase_shots";
    CreateDirectoryA(dir.c_str(), NULL);
    for (int i = 1; i <= 3; i++)
        DeleteFileA((dir + "\\shot" + std::to_string(i) + ".bmp").c_str());
    std::string command = "zqshowcase.exe --shots \"" + dir + "\" \"" ZQ_SHOWCASE_TMF "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) << command;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 120000));
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    ASSERT_EQ(0u, code);

    Shot shots[3];
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(ReadBmp(dir + "\\shot" + std::to_string(i + 1) + ".bmp", &shots[i])) << i;
        const Shot& s = shots[i];
        // The text line: white glyphs in the top band, centred, none at the sides.
        auto white = [](uint32_t p) { return Channel(p, 16) > 200 && Channel(p, 8) > 200 && Channel(p, 0) > 200; };
        EXPECT_GT(Count(s, 160, 10, 480, 45, white), 400) << i;
        EXPECT_EQ(0, Count(s, 0, 10, 120, 45, white) + Count(s, 520, 10, 640, 45, white)) << i;
        // The sprites: pure red diamonds and green rings.
        EXPECT_GT(Count(s, 0, 60, 640, 480, [](uint32_t p) { return Near(p, 0xFF2020, 12); }), 60) << i;
        EXPECT_GT(Count(s, 0, 60, 640, 480, [](uint32_t p) { return Near(p, 0x20FF20, 12); }), 60) << i;
        // The floor's checker, both colours.
        EXPECT_GT(Count(s, 0, 240, 640, 480, [](uint32_t p) { return Near(p, 0xE0A020, 30); }), 5000) << i;
        EXPECT_GT(Count(s, 0, 240, 640, 480, [](uint32_t p) { return Near(p, 0x2060C0, 30); }), 5000) << i;
        // The particles: white points above the middle of the world.
        EXPECT_GT(Count(s, 160, 100, 480, 300, white), 300) << i;
        // The sky stays dark in the corners.
        EXPECT_LT(Channel(s.At(2, 60), 16) + Channel(s.At(637, 60), 0), 60) << i;
    }
    // The camera flies: the shots differ.
    int differ = 0;
    for (size_t p = 0; p < shots[0].Px.size(); p++)
        differ += shots[0].Px[p] != shots[2].Px[p];
    EXPECT_GT(differ, 640 * 480 / 4);
}
