// brolfest04: the game's process-wide state, shared by the start-up, the tick
// (timer thread) and the frame loop (main thread). Everything the tick writes
// is guarded by GameLock.
#ifndef BF04_H
#define BF04_H
#include <windows.h>
#include "zarquel.h"
#include "bf04probe.h"

#define BF04_CAPTION "CZP3D Message"          // the game's own message boxes
#define BF04_HANDLE_CHARS 10                  // the player's handle, without the terminator
#define BF04_HEAP_BYTES 167772160u            // 160 MiB engine heap
#define BF04_PCX_BYTES (1u << 20)             // PCX images before they become alpha maps
#define BF04_PALETTE_BYTES 768
#define BF04_NOISE_FRAMES 10
#define BF04_TEXT_PAGES 18
#define BF04_DIGITS 11                        // 0..9 and the colon
#define BF04_SOLDIERS 15

// Menu fade states.
#define BF04_FADE_IN 0
#define BF04_FADE_HOLD 1
#define BF04_FADE_OUT 2
#define BF04_MENU_HOLD_TICKS 1000
#define BF04_MENU_HOLD_FIRST 200              // the hold counter's value before its first use
#define BF04_FADE_STEP 5                      // alpha per tick: 51 ticks from 255 to 0
#define BF04_START_TICKS 500                  // the start banner's length
#define BF04_PAGE_TICKS 500                   // a text page's time on the TV
#define BF04_PAGE_VIEW_TICKS 199              // the automatic camera shows the TV after a page change
#define BF04_AUTO_PAGE_VIEW 200               // and when automatic mode starts
#define BF04_AUTO_PATH_STEP 0.0003f           // automatic camera per tick along camera path 1
#define BF04_AUTO_PATH_END 0.8f               // and where it wraps to 0

// Windows virtual-key codes of the mode keys.
#define BF04_KEY_ESC 0x1B
#define BF04_KEY_A 0x41
#define BF04_KEY_I 0x49

// Material 16 of the scene is the TV screen: text page over noise (second
// texture, 0x10, modulated, 0x200).
#define BF04_TV_MATERIAL 16
#define BF04_TV_FLAGS 0x210

// The twenty assets (handles), in loading order.
struct GameAssets {
    unsigned long Sky, SkyMaterials;
    unsigned long SoldierBody, SoldierBodyMaterials;
    unsigned long SoldierWeapon, SoldierWeaponMaterials;
    unsigned long Scene, SceneMaterials, SceneOctree;
    unsigned long ShotLight, LightFalloff, ExplosionLight, Flare;
    unsigned long PlayerBody, PlayerBodyMaterials;
    unsigned long PlayerWeapon, PlayerWeaponMaterials;
    unsigned long MenuPicture, CreditsPicture;
    unsigned long ScreenPlane;                 // CZGfx 640 x 480, every full-screen picture
    unsigned long StartPicture;
    unsigned long Noise[BF04_NOISE_FRAMES];
    unsigned long TextPage[BF04_TEXT_PAGES];
    unsigned long Explosion, ExplosionMaterials, ExplosionInstance;
    unsigned long WinPicture, AutomaticPicture;
    unsigned long ShadowTexture, ShadowPlane;
    unsigned long HudTexture, HudFrame;
    unsigned long Digit[BF04_DIGITS];
    unsigned long DigitPlane;
    unsigned long EndPicture;
    unsigned long VeilTexture, Veil;
    float SoldierReach;                        // farthest vertex of a soldier's body or weapon, any frame
};

class CameraPath;
class SoundPlayer;
class ShotManager;
class Soldier;

struct Game {
    CZarquel* Engine;
    SoundPlayer* Sound;
    ShotManager* Shots;
    Soldier* Soldiers[BF04_SOLDIERS];
    int SoldierCount;
    CameraPath* Path1;
    CameraPath* Path2;
    char Handle[BF04_HANDLE_CHARS + 1];
    int FullScreen;                            // 1 full screen (default), 0 windowed
    unsigned char* PcxBuffer;
    unsigned char* PcxPalette;
    HWND Window;
    unsigned long Layer;
    CRITICAL_SECTION Lock;                     // the game lock
    GameAssets A;
    BF04_FLAGS F;                              // the screens' flags (see bf04probe.h)
    unsigned long ScreenPicture;               // menu or credits picture
    int LastAlpha;                             // last alpha written into the screen picture; -1 none
    // Samples (library handles), in loading order.
    unsigned long SampleShot, SampleStart, SampleExplosion, SampleWalk, SampleComplete, SampleArgh,
        SampleDeath;
};
extern Game G;

// Start dialog: returns 1 on "Start" (G.Handle and G.FullScreen set), 0 on
// "Exit" or when it is closed.
int RunStartDialog(HINSTANCE instance);
int GameMain(HINSTANCE instance, int showCommand);
void LoadAssets();
// Reads a PCX image into the game's buffer and makes it `texture`'s alpha map.
void LoadAlphaMap(unsigned long texture, const char* pcx);
void ReleaseAssets();
void GameTick();
void ReadModeKeys();
void FrameLoop();
void ApplyRendererSettings();
// True when a sphere reaches into the renderer's current view frustum.
bool SphereInView(float x, float y, float z, float radius);

// Test build only: the published record (bf04probe.cpp); no-ops otherwise.
#ifdef BF04_TEST_BUILD
BF04_PROBE* ProbeRecord();
void ProbeTickStarted();
void ProbeTickEnded(const BF04_FLAGS& now);
void ProbeOrders();
void ProbeFollowCamera(Vector3* eye, Vector3* target);
void ProbeCut(int phase);               // -1: a frame starts
void ProbeFrameEnded();
#define BF04_PROBE_DO(statement) do { BF04_PROBE* P = ProbeRecord(); if (P) { statement; } } while (0)
#else
#define BF04_PROBE_DO(statement) do { } while (0)
#endif

#endif
