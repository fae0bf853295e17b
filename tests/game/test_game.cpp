// brolfest04 played from outside: the real start dialog, keys posted to the
// game window, screenshots, and the test build's published flags and counters.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include "drive.h"

namespace {

const int kLoadMs = 240000;    // from "Start" to the timer, on a loaded machine

std::string GameExe()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    strcpy(strrchr(exe, '\\') + 1, "brolfest04_probe.exe");
    return exe;
}

std::string Text(HWND w)
{
    char t[256] = "";
    GetWindowTextA(w, t, sizeof t);
    return t;
}

// Polls the published flags once a millisecond until `done` holds; the
// tick count when it first did, or 0 on time-out.
template <class F> uint32_t TickWhen(const DriveRun& run, F done, int timeoutMs)
{
    for (int i = 0; i < timeoutMs; i++) {
        BF04_PROBE snapshot = *run.Probe;
        if (done(snapshot.Flags))
            return snapshot.Ticks;
        Sleep(1);
    }
    return 0;
}

// Share of pixels whose channels all lie within `tolerance` of the picture
// (`above`: the screen may be brighter, as over an additive picture).
double Match(const DriveImage& screen, const DriveImage& picture, int tolerance, bool above)
{
    long good = 0, total = 0;
    for (int y = 8; y < 472; y += 2)
        for (int x = 8; x < 632; x += 2) {
            const uint8_t* s = screen.At(x, y);
            const uint8_t* p = picture.At(x, y);
            bool ok = true;
            for (int c = 0; c < 3; c++)
                ok = ok && (above ? s[c] + tolerance >= p[c] : abs(s[c] - p[c]) <= tolerance);
            good += ok;
            total++;
        }
    return (double)good / total;
}

struct Game : ::testing::Test {
    DriveRun run = {};
    HWND dialog = nullptr;
    void Open(const char* folder = nullptr)
    {
        ASSERT_TRUE(DriveStart(&run, GameExe().c_str(), folder));
        ASSERT_NE(run.Probe, nullptr);
        dialog = DriveFindWindow(&run, DRIVE_DIALOG_TITLE, 30000);
        ASSERT_NE(dialog, nullptr) << "no start dialog";
    }
    HWND Start()
    {
        DriveClick(dialog, IDOK);
        for (int i = 0; i < kLoadMs / 50 && !run.Probe->TimerStarted; i++)
            if (WaitForSingleObject(run.Process.hProcess, 50) == WAIT_OBJECT_0)
                break;
        EXPECT_EQ(run.Probe->TimerStarted, 1) << "the game did not reach its frame loop";
        return (HWND)(uintptr_t)run.Probe->Window;
    }
    void TearDown() override { DriveClose(&run); }
};

TEST_F(Game, DialogControlsAndExit)
{
    Open();
    EXPECT_EQ(Text(dialog), DRIVE_DIALOG_TITLE);
    char cls[64];
    GetClassNameA(dialog, cls, sizeof cls);
    EXPECT_STREQ(cls, "#32770");
    HWND edit = GetDlgItem(dialog, 1000), windowed = GetDlgItem(dialog, 1002), full = GetDlgItem(dialog, 1003);
    HWND start = GetDlgItem(dialog, IDOK), exit = GetDlgItem(dialog, IDCANCEL);
    ASSERT_TRUE(edit && windowed && full && start && exit);
    EXPECT_TRUE(GetWindowLongA(edit, GWL_STYLE) & ES_AUTOHSCROLL);
    EXPECT_EQ(GetWindowLongA(windowed, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
    EXPECT_EQ(GetWindowLongA(full, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
    EXPECT_EQ(GetWindowLongA(start, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(Text(windowed), "Windowed");
    EXPECT_EQ(Text(full), "FullScreen");
    EXPECT_EQ(Text(start), "Start");
    EXPECT_EQ(Text(exit), "Exit");
    EXPECT_EQ(Text(edit), "");
    EXPECT_EQ(LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0)), IDOK);
    bool handleText = false;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        handleText = handleText || Text(c) == "Enter Your Handle";
    EXPECT_TRUE(handleText);
    EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), 0);

    // The two boxes exclude each other; full screen is the default.
    EXPECT_EQ(SendMessageA(full, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(windowed, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    DriveClick(dialog, 1002);
    EXPECT_EQ(SendMessageA(windowed, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(full, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    DriveClick(dialog, 1002);   // clicking it again keeps it the one chosen
    EXPECT_EQ(SendMessageA(windowed, BM_GETCHECK, 0, 0), BST_CHECKED);
    DriveClick(dialog, 1003);
    EXPECT_EQ(SendMessageA(full, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(windowed, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    DriveClick(dialog, IDCANCEL);
    EXPECT_EQ(DriveWaitExit(&run, 20000), 0);
    EXPECT_EQ(run.Probe->DialogDone, 2);
    EXPECT_EQ(run.Probe->EngineCreated, 0);
}

TEST_F(Game, ThreeControlPointsEndWithTheBox)
{
    Open(BF04_FIXTURES "\\badpath");
    DriveClick(dialog, 1002);
    DriveClick(dialog, IDOK);
    HWND box = nullptr;
    for (int i = 0; i < kLoadMs / 100 && !box; i++) {
        HWND w = DriveFindWindow(&run, "CZP3D Message", 100);
        char cls[64] = "";
        if (w && GetClassNameA(w, cls, sizeof cls) && !strcmp(cls, "#32770"))
            box = w;
    }
    ASSERT_NE(box, nullptr) << "no message box";
    std::string texts;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        texts += Text(c) + "|";
    EXPECT_NE(texts.find("Puntos de control de la spline insuficientes"), std::string::npos) << texts;
    EXPECT_EQ(run.Probe->TimerStarted, 0);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(DriveWaitExit(&run, 20000), 1);
}

TEST_F(Game, WindowedChoiceReachesTheWindow)
{
    Open();
    DriveClick(dialog, 1002);
    HWND game = Start();
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(run.Probe->Windowed, 1);
    EXPECT_TRUE(GetWindowLongA(game, GWL_STYLE) & WS_CAPTION);
    EXPECT_EQ(run.Probe->Handle[0], 0) << "an empty handle stays empty";
    DrivePress(game, VK_ESCAPE, 50);
    EXPECT_EQ(DriveWaitExit(&run, 60000), 0);
}

bool SixteenBitScreen()
{
    HDC dc = GetDC(nullptr);
    bool ok = GetDeviceCaps(dc, BITSPIXEL) == 16 && GetDeviceCaps(dc, HORZRES) == 640 &&
              GetDeviceCaps(dc, VERTRES) == 480;
    ReleaseDC(nullptr, dc);
    return ok;
}

struct GameFullScreen : Game {};

// One run through the screens at the default choice: menu hold and fades,
// the start banner, automatic mode, the Esc latch, the end picture.
TEST_F(GameFullScreen, MenuBannerAutomaticAndEnd)
{
    if (!SixteenBitScreen())
        GTEST_SKIP() << "needs the 640 x 480 x 16 screen (ZQ_DISPLAY16)";
    Open();
    DriveSetText(dialog, 1000, "abcdefghijklmn");
    HWND game = Start();
    ASSERT_NE(game, nullptr);
    BF04_PROBE& p = *run.Probe;
    EXPECT_STREQ(p.Handle, "abcdefghij");
    EXPECT_EQ(p.Windowed, 0);
    EXPECT_FALSE(GetWindowLongA(game, GWL_STYLE) & WS_CAPTION);
    printf("start-up: %.1f s from Start to the frame loop; level of %u faces\n",
           (double)(p.FirstMenuFrameTime - p.StartTime) / p.CounterFrequency, p.LevelFaces);

    // The menu picture, fully visible, holds 1000 ticks.
    uint32_t hold = TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuFadeState == 1; }, 5000);
    ASSERT_NE(hold, 0u);
    Sleep(300);
    DriveImage screen, menu, automatic;
    ASSERT_TRUE(DriveLoadBmp(&menu, BF04_FIXTURES "\\menu.bmp"));
    ASSERT_TRUE(DriveLoadBmp(&automatic, BF04_FIXTURES "\\automatic.bmp"));
    ASSERT_TRUE(DriveScreenshot(&screen));
    EXPECT_GT(Match(screen, menu, 40, false), 0.9) << "the menu picture on screen";
    uint32_t out = TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuFadeState == 2; }, 20000);
    EXPECT_NEAR((int)(out - hold), 1000, 3);
    uint32_t in = TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuFadeState == 0; }, 5000);
    EXPECT_NEAR((int)(in - out), 51, 3);
    EXPECT_EQ(p.Flags.ScreenIsCredits, 1);
    uint32_t held = TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuFadeState == 1; }, 5000);
    EXPECT_NEAR((int)(held - in), 51, 3);
    EXPECT_EQ(p.Flags.MenuAlpha, 255);

    // I: the menu fades out, the banner runs 500 ticks with its jingle.
    DrivePress(game, 'I', 30);
    uint32_t key = TickWhen(run, [](const BF04_FLAGS& f) { return f.StartBanner == 1; }, 5000);
    ASSERT_NE(key, 0u);
    uint32_t hidden = TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuShown == 0; }, 5000);
    EXPECT_LE((int)(hidden - key), 53);
    uint32_t over = TickWhen(run, [](const BF04_FLAGS& f) { return f.StartBanner == 0; }, 10000);
    EXPECT_NEAR((int)(over - key), 500, 3);
    ASSERT_EQ(p.StartPlays, 9u);
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(p.StartPlayCountdown[i], 399 - i);

    // Esc from the run back to the menu, then A: automatic mode.
    DrivePress(game, VK_ESCAPE, 30);
    ASSERT_NE(TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuShown == 1; }, 5000), 0u);
    DrivePress(game, 'A', 30);
    uint32_t automaticAt = TickWhen(run, [](const BF04_FLAGS& f) { return f.Automatic == 1; }, 5000);
    ASSERT_NE(automaticAt, 0u);
    EXPECT_EQ(p.Flags.MenuShown, 0);
    Sleep(300);
    EXPECT_EQ(p.ViewingTv, 1) << "the TV first";
    uint32_t flight = TickWhen(run, [](const BF04_FLAGS& f) { return f.PageView == 0; }, 5000);
    EXPECT_NEAR((int)(flight - automaticAt), 200, 3);
    Sleep(300);
    EXPECT_EQ(p.ViewingTv, 0) << "then camera path 1";
    float eye[3];
    memcpy(eye, p.Eye, sizeof eye);
    Sleep(1000);
    EXPECT_GT(fabsf(p.Eye[0] - eye[0]) + fabsf(p.Eye[2] - eye[2]), 0.01f) << "the camera flies";
    ASSERT_TRUE(DriveScreenshot(&screen));
    EXPECT_GT(Match(screen, automatic, 40, true), 0.9) << "the automatic picture over the scene";

    // Esc held does nothing until it is let go.
    DriveKey(game, VK_ESCAPE, true);
    Sleep(700);
    EXPECT_EQ(p.Flags.Automatic, 1);
    EXPECT_EQ(p.Flags.EscLatch, 1);
    DriveKey(game, VK_ESCAPE, false);
    ASSERT_NE(TickWhen(run, [](const BF04_FLAGS& f) { return f.MenuShown == 1 && f.Automatic == 0; }, 5000), 0u);
    DriveKey(game, VK_ESCAPE, true);
    Sleep(700);
    EXPECT_EQ(p.Flags.Quit, 0);
    DWORD released = GetTickCount();
    DriveKey(game, VK_ESCAPE, false);
    EXPECT_EQ(DriveWaitExit(&run, 60000), 0);
    EXPECT_EQ(p.TearDown, 1);
    EXPECT_GE(GetTickCount() - released, 5000u) << "the end picture stays five seconds";

    // The tick while the game renders: reported, asserted loosely.
    uint32_t n = std::min<uint32_t>(p.IntervalCount, BF04_PROBE_INTERVALS);
    ASSERT_GT(n, 100u);
    std::vector<uint32_t> v(p.Interval, p.Interval + n);
    std::sort(v.begin(), v.end());
    printf("tick interval over %u ticks: p50 %u us, p99 %u us, %u late (nominal 6667 us)\n", n, v[n / 2],
           v[n * 99 / 100], p.TicksLate);
    EXPECT_NEAR((int)v[n / 2], 6667, 2000);
}

}  // namespace
