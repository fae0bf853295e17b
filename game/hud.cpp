// The overlay's run parts: the win banner over the dark veil and the run
// clock of digit pictures, which runs in wall time while it is drawn.
#include <cstdio>
#include "actors.h"
#include "bf04.h"

#define HUD_WIN_SCALE 0.8f
#define HUD_WIN_JITTER 0.5f

void FormatClock(int32_t seconds, uint32_t milliseconds, char out[CLOCK_DIGITS + 1])
{
    char s[16], ms[16];
    snprintf(s, sizeof s, "%04d", (int)seconds);
    snprintf(ms, sizeof ms, "%04d", (int)milliseconds);
    // Only the first four characters of the seconds: 10,000 s and more lose the rest.
    snprintf(out, CLOCK_DIGITS + 1, "%.4s%.3s0", s, ms + 1);
}

void AdvanceClock(Player* p, uint32_t now, bool frozen)
{
    if (p->LastTick == CLOCK_UNSET) {
        p->LastTick = now;
        return;
    }
    if (frozen)
        return;
    p->Milliseconds += now - p->LastTick;
    p->LastTick = now;
    // At 1000 too: the display has room for 999 at most.
    if (p->Milliseconds >= 1000) {
        p->Seconds += p->Milliseconds / 1000;
        p->Milliseconds %= 1000;
    }
}

void DrawRunOverlay(bool winBanner, bool clock)
{
    CZGfx* gfx = G.Engine->Gfx;
    const GameAssets& a = G.A;
    if (winBanner) {
        G.Engine->O3d->DrawAllObject(a.Veil, 0);
        gfx->SetMaterialPlane2d(a.ScreenPlane, a.WinPicture, 0, 1);
        float scale = HUD_WIN_SCALE + G.Engine->Mth->Rnd() / 65536.0f * HUD_WIN_JITTER;
        gfx->ScalePlane2d(a.ScreenPlane, scale, scale);
        gfx->DrawPlane2d(a.ScreenPlane, false, false, true);
    }
    if (!clock)
        return;
    // The tick adds death penalties and resets the clock: read and advance
    // it under the game lock, not from the frame's snapshot.
    char digits[CLOCK_DIGITS + 1];
    EnterCriticalSection(&G.Lock);
    FormatClock(P1.Seconds, P1.Milliseconds, digits);
    AdvanceClock(&P1, GetTickCount(), G.F.WinCountdown > 0 || G.F.Won);
    LeaveCriticalSection(&G.Lock);
    for (int i = 0; i < CLOCK_DIGITS; i++) {
        unsigned digit = (unsigned)(digits[i] - '0');
        gfx->SetMaterialPlane2d(a.DigitPlane, a.Digit[digit < 10 ? digit : 0], 0, 1);
        gfx->MovePlane2d(a.DigitPlane, (float)(CLOCK_X0 + CLOCK_DX * i), (float)CLOCK_Y);
        gfx->DrawPlane2d(a.DigitPlane, true, false, false);
    }
}
