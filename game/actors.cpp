// The player's reset and chase camera, and the places the movement, the
// soldiers and the shots fill.
#include "actors.h"
#include "bf04.h"

Player P1;

static const Vector3 kPlayerStart = {-174.979f, 3.1f, 119.984f};
static const Vector3 kEyeOffset = {0.0f, 1.5f, -5.2f};
static const Vector3 kEyeOffsetDying = {0.0f, 3.5f, -6.2f};

void ResetPlayer()
{
    P1.Position = kPlayerStart;
    P1.State = PLAYER_IDLE;
    P1.Frame = 0;
    P1.Fraction = 0.0f;
    P1.HeadingTarget = 0.0f;
    P1.Step = 1;
    G.F.Shake = 0;
    G.F.Won = 0;
    G.F.WinCountdown = 0;
    P1.DeathCountdown = 0;
}

void UpdatePlayer()
{
    CZMth* mth = G.Engine->Mth;
    P1.Target = P1.Position;
    P1.Target.y += 0.9f;
    Vector3 offset = P1.State == PLAYER_DYING ? kEyeOffsetDying : kEyeOffset;
    mth->SetTranslation(0, 0, 0);
    mth->SetAngles(0, (int)(P1.Heading + 128.0f), 0);
    mth->CalcRotationMatrix();
    mth->RotateCords(&offset, &offset, 1);
    P1.Eye = {offset.x + P1.Position.x, offset.y + P1.Position.y, offset.z + P1.Position.z};
    P1.Eye.x += mth->GetSinus(P1.Bob);
    P1.Eye.y += mth->GetCosinus(P1.Bob) * 0.2f;
    P1.Bob += G.F.Shake > 0 ? mth->Rnd() : 1;
    // The HUD frame's sway: here.
    if (P1.Heading > P1.HeadingTarget)
        P1.Heading -= (P1.Heading - P1.HeadingTarget) * 0.025f;
    if (P1.Heading < P1.HeadingTarget)
        P1.Heading += (P1.HeadingTarget - P1.Heading) * 0.025f;
    // Heading, animation, the win zone, walking, turning and firing: here,
    // when no mode key applies.
    ReadModeKeys();
}

void DrawPlayer(const Player&) {}
void DrawPlayerShadow(const Player&) {}

ShotManager::ShotManager()
{
    SoldierList = nullptr;
    Engine = nullptr;
    FlareTexture = 0;
}

void ShotManager::Update() {}
void ShotManager::Draw() {}

Soldier::Soldier(unsigned long weapon, unsigned long body, CZarquel* engine, CameraPath* path, ShotManager* shots)
{
    Weapon = weapon;
    Body = body;
    Engine = engine;
    Path = path;
    Shots = shots;
    X = Z = 0.0f;
    Y = 2.1f;
    PathPosition = engine->Mth->Rnd() / 65536.0f;
    Heading = 0.0f;
    RespawnCountdown = 0;
    State = 1;
    Frame = 40;
    Fraction = 0.0f;
    Step = 1;
}

void Soldier::Update() {}
void Soldier::Draw() {}
void Soldier::DrawShadow() {}
