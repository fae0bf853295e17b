// The player, the enemy soldiers and the shot manager: their records and the
// calls the tick and the frame loop make. Movement, fighting and their
// drawing fill these bodies.
#ifndef BF04_ACTORS_H
#define BF04_ACTORS_H
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

void ResetPlayer();
void UpdatePlayer();               // tick, under the game lock
void DrawPlayer(const Player& snapshot);        // world pass
void DrawPlayerShadow(const Player& snapshot);  // effects pass

class ShotManager {
public:
    ShotManager();
    void Update();                 // tick, after the soldiers
    void Draw();                   // effects pass
    void* SoldierList;             // the game's soldier table
    CZarquel* Engine;
    unsigned long FlareTexture;
};

class Soldier {
public:
    Soldier(unsigned long weapon, unsigned long body, CZarquel* engine, CameraPath* path, ShotManager* shots);
    void Update();                 // tick
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
};

#endif
