// One full-screen run of the test build, watched from outside and steered
// through its orders (bf04probe.h): the clock's digits on screen, the
// footsteps paused while Up and Space are held, a walking soldier seen from
// behind and from ahead, and the score submission over many wins against a
// server that answers, a name that does not resolve, nothing listening, a
// server that resets and one that never answers. Run by run_scorehost.sh
// (the score server's name is ours to point) on the 640 x 480 x 16 screen
// (run_fullscreen.sh); screenshots land in BF04_TEST_OUT.
#include <winsock2.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include "actors.h"
#include "camerapath.h"
#include "drive.h"

namespace {

DriveRun g_run;
HWND g_window;
std::string g_out = ".";
const char* g_skip;            // why the run's tests skip, or null
float g_straight;              // a path position where camera path 1 runs straight

BF04_PROBE& Probe() { return *g_run.Probe; }

template <class F> bool WaitUntil(F done, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (done())
            return true;
        Sleep(10);
    }
    return false;
}

void Save(const DriveImage& image, const char* name)
{
    DriveSaveBmp(image, (g_out + "\\" + name + ".bmp").c_str());
}

// Where the path's direction stays the same the longest round it.
float StraightestStretch(CameraPath& path)
{
    auto heading = [&](float t) {
        Vector3 a = path.Eval(t), b = path.Eval(t + SOLDIER_LOOK_AHEAD);
        return std::atan2(b.z - a.z, b.x - a.x);
    };
    float best = 0.0f, bestTurn = 1e9f;
    for (float t = 0.05f; t < 0.9f; t += 0.0025f) {
        float turn = 0.0f;
        for (float u = t - 0.01f; u <= t + 0.03f; u += 0.0025f)
            turn = std::max(turn, std::fabs(std::remainder(heading(u) - heading(t), 6.2831853f)));
        if (turn < bestTurn) {
            bestTurn = turn;
            best = t;
        }
    }
    printf("game run: camera path 1 runs straight round %.4f (turns %.2f degrees)\n", best, bestTurn * 57.3f);
    return best;
}

struct GameRun : ::testing::Test {
    static void SetUpTestSuite()
    {
        if (const char* out = getenv("BF04_TEST_OUT"))
            g_out = out;
        if (!DriveSixteenBitScreen()) {
            g_skip = "needs the 640 x 480 x 16 screen (ZQ_DISPLAY16)";
            return;
        }
        g_skip = "the game did not start a run";
        CZarquel* engine = new CZarquel;
        engine->Mem->InitHeap(16u << 20);
        engine->Xfs->OpenMasterFile("data.tmf");
        CameraPath path;
        path.Engine = engine;
        path.Load("data\\camera1.tcp");
        g_straight = StraightestStretch(path);
        engine->Xfs->CloseMasterFile();

        HWND dialog;
        if (!DriveOpenGame(&g_run, &dialog, nullptr))
            return;
        Sleep(500);
        DriveSetText(dialog, 1000, "watcher");
        DriveClick(dialog, IDOK);
        if (!WaitUntil([] { return Probe().Frames >= 3; }, 240000))
            return;
        g_window = (HWND)(uintptr_t)Probe().Window;
        DrivePress(g_window, 'I', 100);
        if (!WaitUntil([] { return Probe().Flags.StartBanner && !Probe().Flags.MenuShown; }, 10000) ||
            !WaitUntil([] { return !Probe().Flags.StartBanner; }, 20000))
            return;
        g_skip = nullptr;
    }
    static void TearDownTestSuite() { DriveClose(&g_run); }
    void SetUp() override
    {
        if (g_skip)
            GTEST_SKIP() << g_skip;
    }
};

// ---------------------------------------------------------------------------
// The clock

double Luma(const uint8_t* bgr) { return 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2]; }

// Correlation of a 25 x 25 screen cell at (x, y) with digit d of the strip.
double DigitMatch(const DriveImage& screen, int x, int y, const DriveImage& strip, int d)
{
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 25 * 25;
    for (int j = 0; j < 25; j++)
        for (int i = 0; i < 25; i++) {
            double a = Luma(screen.At(x + i, y + j)), b = Luma(strip.At(25 * d + i, j));
            sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
        }
    double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? (sab - sa * sb / n) / std::sqrt(va * vb) : 0.0;
}

TEST_F(GameRun, ClockDigitsSitInARowFromX5ToX145AtY40)
{
    DriveImage strip, screen;
    ASSERT_TRUE(DriveLoadBmp(&strip, BF04_FIXTURES "\\digits.bmp"));
    ASSERT_EQ(strip.Width, 250);
    // The digits add their light to the scene, so a bright sky weakens the
    // match and an explosion behind the clock drowns it: a few tries for a
    // screen where every cell holds some digit.
    int32_t seconds = -1;
    for (int i = 0; i < 20 && seconds < 0; i++) {
        int32_t before = Probe().Play.Seconds;
        ASSERT_TRUE(DriveScreenshot(&screen));
        bool clear = Probe().Play.Seconds == before;
        for (int cell = 0; cell < CLOCK_DIGITS && clear; cell++) {
            double m = 0;
            for (int k = 0; k < 10; k++)
                m = std::max(m, DigitMatch(screen, CLOCK_X0 + CLOCK_DX * cell, CLOCK_Y, strip, k));
            clear = m > 0.6;
        }
        if (clear)
            seconds = before;
        else
            Sleep(300);
    }
    ASSERT_GE(seconds, 0) << "no clear view of the clock";
    Save(screen, "clock");
    // The seconds' four digits and the closing 0 are known; the
    // milliseconds' three ran on while the shot was taken.
    char digits[16];
    snprintf(digits, sizeof digits, "%04d", (int)seconds);
    const int known[5] = {0, 1, 2, 3, 7};
    auto expected = [&](int cell) { return cell == 7 ? 0 : digits[cell] - '0'; };

    int bestDx = 99, bestDy = 99;
    double best = -1e9;
    for (int dy = -8; dy <= 8; dy++)
        for (int dx = -8; dx <= 8; dx++) {
            double sum = 0;
            for (int cell : known)
                sum += DigitMatch(screen, CLOCK_X0 + CLOCK_DX * cell + dx, CLOCK_Y + dy, strip, expected(cell));
            if (sum > best)
                best = sum, bestDx = dx, bestDy = dy;
        }
    // The digit pictures are point-sampled at 25 of their 32 texels: the
    // match peaks within a pixel of the place.
    EXPECT_LE(std::abs(bestDx), 1);
    EXPECT_LE(std::abs(bestDy), 1);
    std::string read;
    double worst = 1.0;
    for (int cell = 0; cell < CLOCK_DIGITS; cell++) {
        int d = 0;
        double m[10];
        for (int k = 0; k < 10; k++) {
            m[k] = DigitMatch(screen, CLOCK_X0 + CLOCK_DX * cell, CLOCK_Y, strip, k);
            if (m[k] > m[d])
                d = k;
        }
        read += (char)('0' + d);
        worst = std::min(worst, m[d]);
        if (cell < 4 || cell == 7) {
            EXPECT_EQ(d, expected(cell)) << "cell " << cell;
        }
    }
    printf("game run: the clock reads %s at %d s (least match %.2f)\n", read.c_str(), seconds, worst);
}

// ---------------------------------------------------------------------------
// Footsteps

TEST_F(GameRun, UpWithSpaceShootsInPlaceAndPausesTheFootsteps)
{
    const BF04_PLAY& p = Probe().Play;
    DriveKey(g_window, VK_UP, true);
    EXPECT_TRUE(WaitUntil([&] { return p.State == PLAYER_WALKING && p.Footsteps == 1; }, 3000))
        << "walking with the footsteps playing";
    DriveKey(g_window, VK_SPACE, true);
    EXPECT_TRUE(WaitUntil([&] { return p.Footsteps == 3; }, 3000)) << "Space pauses the footsteps";
    float x = p.Position[0], z = p.Position[2];
    DriveWaitTicks(&g_run, Probe().Ticks + 60, 3000);
    EXPECT_EQ(p.Footsteps, 3);
    EXPECT_TRUE(p.State == PLAYER_SHOOTING || p.State == PLAYER_IDLE) << p.State;
    EXPECT_EQ(p.Position[0], x) << "no walking while shooting";
    EXPECT_EQ(p.Position[2], z);
    DriveKey(g_window, VK_SPACE, false);
    EXPECT_TRUE(WaitUntil([&] { return p.Footsteps == 1; }, 3000)) << "Up alone resumes them";
    DriveKey(g_window, VK_UP, false);
    EXPECT_TRUE(WaitUntil([&] { return p.Footsteps == 3 && p.State != PLAYER_WALKING; }, 3000));
}

// ---------------------------------------------------------------------------
// The soldiers' facing

// The soldier's face is skin with dark grey eyes; the back of its head is
// skin only. Counts the dark grey pixels round the middle of the screen
// that have skin on all four sides within a head's width. Objects are not
// lit, so the skin keeps its picture's colour; the level is (explosions),
// hence the narrow colour box.
int EnclosedDarkPixels(const DriveImage& s, int* skinPixels)
{
    auto skin = [&](int x, int y) {
        const uint8_t* c = s.At(x, y);
        int r = c[2], g = c[1], b = c[0];
        return r >= 180 && r <= 240 && g >= 125 && g <= 185 && b >= 90 && b <= 145 && r - g >= 35 && r - g <= 80 &&
               g - b >= 15 && g - b <= 55;
    };
    auto dark = [&](int x, int y) {
        const uint8_t* c = s.At(x, y);
        int hi = std::max(c[0], std::max(c[1], c[2])), lo = std::min(c[0], std::min(c[1], c[2]));
        return hi < 56 && hi - lo < 24;
    };
    const int reach = 30;
    int found = 0;
    *skinPixels = 0;
    for (int y = 100; y < 320; y++)
        for (int x = 240; x < 400; x++) {
            *skinPixels += skin(x, y);
            if (!dark(x, y))
                continue;
            bool l = false, r = false, u = false, d = false;
            for (int k = 1; k <= reach; k++) {
                l = l || skin(x - k, y);
                r = r || skin(x + k, y);
                u = u || skin(x, y - k);
                d = d || skin(x, y + k);
            }
            found += l && r && u && d;
        }
    return found;
}

// The camera on soldier 1's path, `back` behind it (negative: ahead,
// looking back), while it walks a straight stretch; the screen once it has
// walked a few frames without stopping.
bool FollowSoldier(float back, DriveImage* screen)
{
    BF04_ORDERS& o = Probe().Orders;
    o.FollowPath = g_straight;
    o.FollowBack = back;
    o.FollowHeight = 1.0f;
    o.Follow = 1;
    for (int attempt = 0; attempt < 8; attempt++) {
        o.FollowSerial++;
        uint32_t tick = Probe().Ticks;
        DriveWaitTicks(&g_run, tick + 2, 2000);
        uint32_t frames = Probe().Frames;
        WaitUntil([&] { return Probe().Frames >= frames + 4; }, 3000);
        bool walking = Probe().Play.SoldierState[0] == SOLDIER_WALKING;
        if (DriveScreenshot(screen) && walking && Probe().Play.SoldierState[0] == SOLDIER_WALKING)
            return true;
    }
    return false;
}

TEST_F(GameRun, AWalkingSoldierIsSeenFromBehindByACameraFollowingIt)
{
    DriveImage behind, ahead;
    bool seen = FollowSoldier(1.6f, &behind) && FollowSoldier(-1.6f, &ahead);
    Probe().Orders.Follow = 0;
    ASSERT_TRUE(seen) << "the soldier did not keep walking";
    Save(behind, "soldier-behind");
    Save(ahead, "soldier-ahead");
    int skinBehind, skinAhead;
    int eyesBehind = EnclosedDarkPixels(behind, &skinBehind), eyesAhead = EnclosedDarkPixels(ahead, &skinAhead);
    printf("game run: soldier from behind: %d skin, %d face pixels; from ahead: %d skin, %d face pixels\n",
           skinBehind, eyesBehind, skinAhead, eyesAhead);
    EXPECT_GT(skinBehind, 2000) << "the head fills the middle of the screen";
    EXPECT_GT(skinAhead, 2000);
    EXPECT_GT(eyesAhead, 40) << "from ahead: the face";
    EXPECT_LT(eyesBehind, eyesAhead / 8) << "from behind: the back of the head";
}

// ---------------------------------------------------------------------------
// The score submission over many wins

int ThreadsOf(DWORD pid)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t = {};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == pid;
    CloseHandle(snap);
    return n;
}

// The process's handles, from the system's handle list (Wine answers the
// process's own handle count with 0).
long HandlesOf(DWORD pid)
{
    struct Entry {
        ULONG Pid;
        BYTE Type, Flags;
        USHORT Value;
        void* Object;
        ULONG Access;
    };
    typedef LONG(WINAPI * Query)(ULONG, void*, ULONG, ULONG*);
    static Query query = (Query)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    const ULONG kHandleList = 16;                      // SystemHandleInformation
    const LONG kTooSmall = (LONG)0xC0000004;           // STATUS_INFO_LENGTH_MISMATCH
    std::vector<uint8_t> buffer(1 << 16);
    LONG status;
    ULONG needed = 0;
    while ((status = query(kHandleList, buffer.data(), (ULONG)buffer.size(), &needed)) == kTooSmall)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    ULONG count = *(ULONG*)buffer.data();
    const Entry* e = (const Entry*)(buffer.data() + sizeof(ULONG));
    long n = 0;
    for (ULONG i = 0; i < count; i++)
        n += e[i].Pid == pid;
    return n;
}

// A score server on port 80 of a loopback address of its own (other tests
// may hold 127.0.0.1:80): answers, resets the connection, or takes it and
// stays silent for as long as it runs.
struct ScoreHost {
    enum Kind { Answer, Reset, Silent };
    sockaddr_in Address = {};
    SOCKET Listen = INVALID_SOCKET;
    HANDLE Thread = nullptr;
    volatile LONG Mode = Answer, Stop = 0, Requests = 0;
    std::string First;             // the first request answered
    std::vector<SOCKET> Held;

    bool Open()
    {
        Listen = socket(AF_INET, SOCK_STREAM, 0);
        if (bind(Listen, (sockaddr*)&Address, sizeof Address) || listen(Listen, 16))
            return false;
        Stop = 0;
        Thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        return true;
    }
    void Close()
    {
        Stop = 1;
        WaitForSingleObject(Thread, 5000);
        CloseHandle(Thread);
        closesocket(Listen);
        Listen = INVALID_SOCKET;
    }
    static DWORD WINAPI Run(void* self)
    {
        ScoreHost* h = (ScoreHost*)self;
        while (!h->Stop) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(h->Listen, &ready);
            timeval wait = {0, 50000};
            if (select(0, &ready, nullptr, nullptr, &wait) != 1)
                continue;
            SOCKET c = accept(h->Listen, nullptr, nullptr);
            if (c == INVALID_SOCKET)
                continue;
            if (h->Mode == Silent) {
                h->Held.push_back(c);
                continue;
            }
            if (h->Mode == Reset) {
                linger now = {1, 0};
                setsockopt(c, SOL_SOCKET, SO_LINGER, (const char*)&now, sizeof now);
                closesocket(c);
                continue;
            }
            std::string request;
            char b[2048];
            DWORD limit = 5000;
            setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, (const char*)&limit, sizeof limit);
            int n;
            while (request.find("\r\n\r\n") == std::string::npos && (n = recv(c, b, sizeof b, 0)) > 0)
                request.append(b, n);
            if (h->First.empty())
                h->First = request;
            InterlockedIncrement(&h->Requests);
            send(c, "HTTP/1.0 200 OK\r\n\r\nscore kept\r\n", 31, 0);
            closesocket(c);
        }
        return 0;
    }
    // The hosts file run_scorehost.sh put in place, rewritten in place.
    void Name(bool listed)
    {
        FILE* f = fopen((g_out + "\\hosts").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fprintf(f, "127.0.0.1 localhost\n");
        if (listed)
            fprintf(f, "%s " SCORE_HOST "\n", inet_ntoa(Address.sin_addr));
        fclose(f);
    }
};

struct Figures {
    double Before = 0, After = 0;  // frames per second, summed over the wins
    double TicksBefore = 0, Ticks = 0;   // ticks per second before and after the wins, summed
    int Threads = 0;               // the game's, after the wins, against the count before
    long Handles = 0;
};

// Frames and ticks per second over the next `ms`.
double FramesPerSecond(int ms, double* ticksPerSecond = nullptr)
{
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    uint32_t frames = Probe().Frames, ticks = Probe().Ticks;
    Sleep(ms);
    QueryPerformanceCounter(&t1);
    double s = (double)(t1.QuadPart - t0.QuadPart) / f.QuadPart;
    if (ticksPerSecond)
        *ticksPerSecond = (Probe().Ticks - ticks) / s;
    return (Probe().Frames - frames) / s;
}

// Holds a key until the tick has seen what it does: the game takes one
// window message per render pass, so a short tap can be let go before any
// tick looks.
bool Tap(int key, bool (*seen)())
{
    DriveKey(g_window, key, true);
    bool ok = WaitUntil(seen, 5000);
    DriveKey(g_window, key, false);
    return ok;
}

// A run from the menu (Esc first from a run or a win) to a win: the frame
// and tick rates in the run before the win and right after it, while the
// request goes.
void Win(Figures* fig)
{
    BF04_FLAGS& f = Probe().Flags;
    if (!f.MenuShown) {
        ASSERT_TRUE(Tap(VK_ESCAPE, [] { return Probe().Flags.EscLatch == 1; }));
        ASSERT_TRUE(WaitUntil([&] { return f.EscLatch == 0 && !f.Won; }, 5000)) << "Esc leaves the run";
    }
    // A start banner still running takes the menu straight back into a run.
    if (f.MenuShown) {
        ASSERT_TRUE(Tap('I', [] { return !Probe().Flags.MenuShown; })) << "I starts a run";
    }
    Sleep(200);
    double ticks;
    fig->Before += FramesPerSecond(700, &ticks);
    fig->TicksBefore += ticks;
    uint32_t started = Probe().Play.ScoreThreads;
    Probe().Orders.WinSerial++;
    ASSERT_TRUE(WaitUntil([&] { return f.Won == 1; }, 3000)) << "the win order";
    EXPECT_EQ(Probe().Play.ScoreThreads, started + 1);
    fig->After += FramesPerSecond(700, &ticks);
    fig->Ticks += ticks;
}

TEST_F(GameRun, ScoreSubmissionsLeaveFramesThreadsAndHandlesAlone)
{
    const int kWins = 5;
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    ScoreHost host;
    host.Address.sin_family = AF_INET;
    host.Address.sin_port = htons(SCORE_PORT);
    host.Address.sin_addr.s_addr = htonl(0x7F000010u | (20 + GetCurrentProcessId() % 200) << 8);   // 127.0.n.16
    host.Name(true);
    ASSERT_TRUE(host.Open()) << "port 80 of " << inet_ntoa(host.Address.sin_addr);

    DWORD pid = g_run.Process.dwProcessId;
    // The first two submissions leave a handle that lasts (Wine's socket
    // set-up); from then on the counts must stay put.
    Figures warm;
    Win(&warm);
    Win(&warm);
    ASSERT_TRUE(WaitUntil([&] { return host.Requests == 2; }, 5000));
    Sleep(500);
    int threads = ThreadsOf(pid);
    long handles = HandlesOf(pid);
    printf("game run: after two wins the game has %d threads and %ld handles\n", threads, handles);
    ASSERT_GT(handles, 0) << "the handle list";

    const struct {
        const char* Name;
        bool Listed, Listening;
        ScoreHost::Kind Kind;
    } kinds[] = {{"answering", true, true, ScoreHost::Answer},
                 {"unresolved name", false, true, ScoreHost::Answer},
                 {"nothing listening", true, false, ScoreHost::Answer},
                 {"resetting", true, true, ScoreHost::Reset},
                 {"silent", true, true, ScoreHost::Silent}};
    Figures fig[5];
    for (int k = 0; k < 5; k++) {
        host.Name(kinds[k].Listed);
        host.Mode = kinds[k].Kind;
        if (kinds[k].Listening && host.Listen == INVALID_SOCKET) {
            ASSERT_TRUE(host.Open());
        }
        if (!kinds[k].Listening && host.Listen != INVALID_SOCKET)
            host.Close();
        LONG requests = host.Requests;
        for (int w = 0; w < kWins; w++)
            Win(&fig[k]);
        // Every submission that can end has ended: only the silent
        // server's stay, one thread each.
        int stalled = kinds[k].Kind == ScoreHost::Silent ? kWins : 0;
        WaitUntil([&] { return ThreadsOf(pid) <= threads + stalled; }, 10000);
        Sleep(300);
        fig[k].Threads = ThreadsOf(pid) - threads;
        fig[k].Handles = HandlesOf(pid) - handles;
        threads += fig[k].Threads;
        handles += fig[k].Handles;
        fig[k].Before /= kWins;
        fig[k].After /= kWins;
        fig[k].Ticks /= kWins;
        fig[k].TicksBefore /= kWins;
        printf("game run: %-17s frames/s %5.1f before a win, %5.1f after; ticks/s %5.1f, %5.1f; threads %+d, "
               "handles %+ld\n",
               kinds[k].Name, fig[k].Before, fig[k].After, fig[k].TicksBefore, fig[k].Ticks, fig[k].Threads,
               fig[k].Handles);
        EXPECT_EQ(fig[k].Threads, stalled) << kinds[k].Name;
        if (stalled) {
            EXPECT_LE(fig[k].Handles, 3 * stalled) << "a stalled submission keeps its thread and socket";
        } else {
            EXPECT_LE(fig[k].Handles, 0) << kinds[k].Name;
        }
        bool answered = kinds[k].Kind == ScoreHost::Answer && kinds[k].Listed && kinds[k].Listening;
        EXPECT_EQ(host.Requests - requests, answered ? kWins : 0)
            << kinds[k].Name;
    }
    EXPECT_EQ(host.First.rfind("GET http://" SCORE_HOST "/invtro04_scores.php?handle=watcher&time=", 0), 0u)
        << host.First;
    // A lost server must not hold up the frame loop or the tick: the rates
    // right after each kind's wins against those right before (loose: the
    // machine's load moves both).
    for (int k = 0; k < 5; k++) {
        EXPECT_GT(fig[k].After, 0.5 * fig[k].Before) << kinds[k].Name;
        EXPECT_GT(fig[k].Ticks, 0.5 * fig[k].TicksBefore) << kinds[k].Name;
    }

    // The game ends as usual with the silent server's submissions waiting
    // (once the banner is over, the menu stays).
    WaitUntil([] { return !Probe().Flags.StartBanner; }, 30000);
    Tap(VK_ESCAPE, [] { return Probe().Flags.EscLatch == 1; });
    WaitUntil([] { return Probe().Flags.MenuShown == 1 && !Probe().Flags.EscLatch; }, 5000);
    Tap(VK_ESCAPE, [] { return Probe().Flags.EscLatch == 1; });
    EXPECT_EQ(DriveWaitExit(&g_run, 30000), 0);
    host.Close();
    for (SOCKET c : host.Held)
        closesocket(c);
}

}  // namespace
