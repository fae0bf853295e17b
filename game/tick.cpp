// The game tick (timer thread, 150 times a second) and the mode keys.
#include "actors.h"
#include "bf04.h"
#include "soundplayer.h"

// The menu's fade: false when the menu work of this tick ends early (the
// start banner's countdown then waits for the next tick).
static bool TICK_MenuFade()
{
    BF04_FLAGS& f = G.F;
    if (f.StartBanner)
        f.MenuFadeState = BF04_FADE_OUT;
    if (f.MenuFadeState == BF04_FADE_IN) {
        if (f.MenuAlpha < 255) {
            f.MenuAlpha += BF04_FADE_STEP;
            return false;
        }
        f.MenuAlpha = 255;
        f.MenuFadeState = BF04_FADE_HOLD;
        f.MenuHold = BF04_MENU_HOLD_TICKS;
    }
    if (f.MenuFadeState == BF04_FADE_HOLD) {
        if (f.MenuHold-- != 1)
            return false;
        f.MenuHold = BF04_MENU_HOLD_TICKS;
        f.MenuFadeState = BF04_FADE_OUT;
    }
    if (f.MenuFadeState == BF04_FADE_OUT) {
        if (f.MenuAlpha > 0) {
            f.MenuAlpha -= BF04_FADE_STEP;
        } else {
            f.MenuHold = BF04_MENU_HOLD_TICKS;
            f.MenuAlpha = 0;
            f.MenuFadeState = BF04_FADE_IN;
            G.ScreenPicture = G.ScreenPicture == G.A.MenuPicture ? G.A.CreditsPicture : G.A.MenuPicture;
            f.ScreenIsCredits = G.ScreenPicture == G.A.CreditsPicture;
            if (f.StartBanner)
                f.MenuShown = 0;
        }
    }
    return true;
}

void GameTick()
{
    BF04_PROBE_DO(ProbeTickStarted());
    EnterCriticalSection(&G.Lock);
    BF04_PROBE_DO(ProbeOrders());
    BF04_FLAGS& f = G.F;
    if (f.Shake > 0)
        f.Shake--;
    for (int i = 0; i < G.SoldierCount; i++)
        G.Soldiers[i]->Update();
    G.Shots->Update();
    f.AutoPathPosition += BF04_AUTO_PATH_STEP;
    if (f.AutoPathPosition >= BF04_AUTO_PATH_END)
        f.AutoPathPosition = 0.0f;
    UpdatePlayer();
    bool menuDone = f.MenuShown ? TICK_MenuFade() : true;
    if (menuDone && f.StartBanner) {
        f.StartCountdown--;
        // It starts up to nine times, one tick apart: the banner's jingle.
        if (f.StartCountdown >= 391 && f.StartCountdown <= 399) {
            G.Sound->PlaySampleUnmuted(G.SampleStart, 100);
            BF04_PROBE_DO(if (P->StartPlays < BF04_PROBE_STARTS) P->StartPlayCountdown[P->StartPlays] =
                              f.StartCountdown;
                          P->StartPlays++);
        }
        if (f.StartCountdown == 0)
            f.StartBanner = 0;
    }
    // The TV runs on every screen.
    {
        if (++f.NoiseFrame > BF04_NOISE_FRAMES - 1)
            f.NoiseFrame = 0;
        if (f.PageCountdown-- == 1) {
            if (++f.TextPage > BF04_TEXT_PAGES - 1)
                f.TextPage = 0;
            f.PageCountdown = BF04_PAGE_TICKS;
            f.PageView = BF04_PAGE_VIEW_TICKS;
        } else if (f.PageView > 0) {
            f.PageView--;
        }
    }
    BF04_PROBE_DO(ProbeTickEnded(f); P->TicksLate = G.Engine->Vti->TicksLate);
    LeaveCriticalSection(&G.Lock);
}

void ReadModeKeys()
{
    CZKbd* kbd = G.Engine->Kbd;
    BF04_FLAGS& f = G.F;
    // The mode keys apply while the player is frozen, and not in automatic mode.
    if ((f.MenuShown || f.Won) && !f.Automatic) {
        if (kbd->KeyState(BF04_KEY_I)) {
            f.StartBanner = 1;
            f.StartCountdown = BF04_START_TICKS;
            P1.LastTick = 0xFFFFFFFFu;
            P1.Seconds = 0;
            P1.Milliseconds = 0;
            P1.Deaths = 0;
            P1.Kills = 0;
        }
        if (kbd->KeyState(BF04_KEY_A)) {
            f.Automatic = 1;
            f.MenuShown = 0;
            f.PageView = BF04_AUTO_PAGE_VIEW;
            f.TextPage = 0;
        }
    }
    // Esc acts when it is let go, so holding it does nothing.
    if (kbd->KeyState(BF04_KEY_ESC)) {
        f.EscLatch = 1;
    } else if (f.EscLatch) {
        int menuShown = f.MenuShown;
        if (!f.Automatic && menuShown)
            f.Quit = 1;
        if (!menuShown) {
            ResetPlayer();
            f.MenuShown = 1;
        }
        if (f.Automatic) {
            ResetPlayer();
            f.MenuShown = 1;
            f.Automatic = 0;
        }
        f.EscLatch = 0;
    }
}
