// The player, the enemy soldiers and the shot manager: their records and the
// calls the tick and the frame loop make. Movement, fighting and their
// drawing fill these bodies.
#ifndef BF04_ACTORS_H
#define BF04_ACTORS_H
#include <windows.h>
#include <cstdint>
#include "zarquel.h"

class CameraPath;
class ShotManager;

// Player states.
#define PLAYER_IDLE 1
#define PLAYER_WALKING 2
#define PLAYER_SHOOTING 3
#define PLAYER_DYING 4

struct Player {
    Vector3 Position;              // feet level
    float HeadingTarget;           // set by the turn keys; the model is drawn with it
    float Heading;                 // follows the target; the camera uses it
    int32_t State;
    int32_t Frame;
    float Fraction;
    int32_t Step;
    float FallSpeed;
    Vector3 Move;
    unsigned long WalkChannel;
    int32_t DeathCountdown;
    int32_t Bob;                   // integer angle swaying the camera
    int32_t Seconds;
    uint32_t Milliseconds;
    int32_t Deaths, Kills;
    uint32_t LastTick;             // run clock; 0xFFFFFFFF unset
    Vector3 Eye, Target;           // the chase camera, read by the frame loop
};
extern Player P1;

// Where the player stands (and the automatic camera's fixed view looks from)
// when the game shows the TV screen.
#define PLAYER_TV_X 82.54f
#define PLAYER_TV_Y 2.1f
#define PLAYER_TV_Z 1.969f
#define PLAYER_TV_HEADING 342.0f

#define PLAYER_RADIUS 1.2f
#define PLAYER_STEP 0.1f               // walked per tick
#define PLAYER_TURN 2.0f               // heading per tick
#define PLAYER_STEP_LIMIT 6            // raises of PLAYER_RAISE a step may take (0.3); more is a wall
#define PLAYER_RAISE 0.05f
#define PLAYER_RAISE_TRIES 10
#define PLAYER_LAND_TRIES 100          // out of the ground after a fall (0.2 deep at most: 4 suffice)
#define PLAYER_FALL_FIRST 0.05f
#define PLAYER_FALL_MAX 0.2f
#define PLAYER_DEATH_TICKS 200
#define PLAYER_DEATH_PENALTY 5         // seconds
#define PLAYER_SHAKE_TICKS 100
#define WIN_TICKS 1000

// Windows virtual-key codes read by the player.
#define KEY_SPACE 0x20
#define KEY_LEFT 0x25
#define KEY_UP 0x26
#define KEY_RIGHT 0x27
#define KEY_NOCLIP 0x31                // '1': no ground, walls or exit while held

void ResetPlayer();
void RespawnPlayer();
void KillPlayer();
void UpdatePlayer();               // tick, under the game lock
void DrawPlayer(const Player& snapshot);        // world pass
void DrawPlayerShadow(const Player& snapshot);  // effects pass
// The HUD frame's texture scroll the tick asks for (turning, sway); the
// frame loop applies it on the main thread, which owns the object module.
void ApplyHudScroll();

// Counters for tests and the benchmark, written by the tick.
struct PlayCounters {
    uint32_t SceneTests;           // TestAABBWithSphere calls
    uint32_t WalkCycles, WalkToIdle;   // soldiers' walk cycles and those that ended in a look round
    uint32_t ShotsAlong, ShotsAtPlayer;
    uint32_t ShotsRefused, ExplosionsRefused;
    uint32_t ScoreThreads;         // score submissions started
};
extern PlayCounters Counters;

// The scene test every move and shot makes; counted.
bool TouchesScene(Sphere3* sphere);

#define SHOT_MAX 256               // shots in flight: refused beyond (logged once)
#define EXPLOSION_MAX 256
#define SHOT_HEIGHT 2.6f
#define SHOT_SPEED 0.2f
#define SHOT_LIFE 2000
#define SHOT_RADIUS 1.0f
#define SHOT_LIGHT_RADIUS 10.0f
#define EXPLOSION_SIZE 20.0f
#define EXPLOSION_END 15.0f
#define EXPLOSION_SHRINK 0.05f
#define SOUND_RANGE 100.0f         // distance-scaled sounds are asked at 100 - distance

class Soldier;

struct ShotRecord {
    Vector3 Position;
    Vector3 Velocity;
    int32_t Life;
    int32_t Dead;
    Soldier* Owner;                // null: the player's
};

class ShotManager {
public:
    ShotManager();
    void Fire(const Vector3& from, const Vector3& to, Soldier* owner);
    void Update();                 // tick, after the soldiers, under the game lock
    void Draw();                   // effects pass
    Soldier** SoldierList;         // the game's soldier table (G.SoldierCount entries)
    ShotRecord Shots[SHOT_MAX];
    int ShotCount;
    Sphere3 Explosions[EXPLOSION_MAX];   // radius: the explosion's size
    int ExplosionCount;
    CRITICAL_SECTION Lock;         // the lists; taken after the game lock, never before
    CZarquel* Engine;
    unsigned long FlareTexture;
private:
    void SHOT_Explode(const Vector3& at, float distance, float shakeWithin, bool cry);
};

class Soldier {
public:
    Soldier(unsigned long weapon, unsigned long body, CZarquel* engine, CameraPath* path, ShotManager* shots);
    void Update();                 // tick
    void Kill();
    void Draw();                   // world pass
    void DrawShadow();             // effects pass
    int32_t State;
    float PathPosition;
    float X, Y, Z;
    int32_t RespawnCountdown;
    unsigned long Body, Weapon;
    float Heading;
    int32_t Step, Frame;
    float Fraction;
    CZarquel* Engine;
    ShotManager* Shots;
    CameraPath* Path;
    static float HeadingToward(float dx, float dz);
private:
    void SOLD_Face(float tx, float tz);
    void SOLD_Fire();
    void SOLD_Place();
};

// Soldier states.
#define SOLDIER_WALKING 1
#define SOLDIER_IDLE 2
#define SOLDIER_SHOOTING 3
#define SOLDIER_DEAD 6
#define SOLDIER_Y 2.1f
#define SOLDIER_SHADOW_Y 0.89999986f
#define SOLDIER_PATH_STEP 0.0001f      // per tick: the whole path in 10,000 ticks
#define SOLDIER_LOOK_AHEAD 0.0003f
#define SOLDIER_RESPAWN_TICKS 2000
#define SOLDIER_GUN_Y 1.2f

// The run clock: "%04d" of the seconds (first four characters), the last
// three of "%04d" of the milliseconds, then a 0: eight digits, no separator.
#define CLOCK_DIGITS 8
#define CLOCK_X0 5
#define CLOCK_DX 20
#define CLOCK_Y 40
#define CLOCK_UNSET 0xFFFFFFFFu
void FormatClock(int32_t seconds, uint32_t milliseconds, char out[CLOCK_DIGITS + 1]);
// Adds the wall time since the last call (now: GetTickCount) to the clock;
// the first call after a reset only takes the time. Frozen: the win.
void AdvanceClock(Player* p, uint32_t now, bool frozen);
// The overlay's run parts: the win banner over the veil, the clock.
void DrawRunOverlay(bool winBanner, bool clock);

// The score server: one fixed name, port 80.
#define SCORE_HOST "scores.brolfest.example"
#define SCORE_PORT 80
#define SCORE_REQUEST_BYTES 1064
#define SCORE_ANSWER_BYTES 8192
// The request text for these values; its length, or -1 if it does not fit.
int ScoreRequest(char* out, int size, const char* host, const char* handle, int32_t seconds,
                 uint32_t milliseconds, int32_t kills, int32_t deaths);
// Sends the current handle, clock and counters from a thread of its own.
void StartScoreSubmission();
// One request to host:port, the answer read once and dropped; silent on
// every failure. Blocks: the submission thread's body.
void SubmitScoreTo(const char* host, unsigned short port, const char* request, int length);

#endif
