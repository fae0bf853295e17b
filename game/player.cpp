// The player update (tick, under the game lock): the chase camera and its
// sway, turning, walking and firing, the animation, the win zone, and the
// ground and walls against the scene's octree. And the player's drawing.
#include <cmath>
#include "actors.h"
#include "bf04.h"
#include "soundplayer.h"

static const Vector3 kEyeOffset = {0.0f, 1.5f, -5.2f};
static const Vector3 kEyeOffsetDying = {0.0f, 3.5f, -6.2f};
static const Sphere3 kExit = {{82.4f, 0.0f, 2.9f}, 3.0f};

#define PLAYER_SWAY 0.0005f            // HUD frame scroll per unit of the bob's sine
#define PLAYER_TURN_SCROLL 0.001f      // HUD frame scroll per tick of turning
#define PLAYER_HEADING_RATE 0.025f     // share of the gap the camera's heading closes per tick
#define PLAYER_SHADOW_ANGLE 384.0f     // lays the shadow plane flat

static float g_hudScroll;              // asked by the tick, applied by the frame loop

void ApplyHudScroll()
{
    EnterCriticalSection(&G.Lock);
    float du = g_hudScroll;
    g_hudScroll = 0.0f;
    LeaveCriticalSection(&G.Lock);
    if (du != 0.0f)
        G.Engine->O3d->ModifyMapping(G.A.HudFrame, 0, du, 0.0f);
}

// (0, y, z) turned by an integer heading plus the quarter turn the engine's
// rotation needs for the model's forward axis.
static Vector3 PLAY_Turn(Vector3 v, float heading)
{
    CZMth* mth = G.Engine->Mth;
    mth->SetTranslation(0.0f, 0.0f, 0.0f);
    mth->SetAngles(0, (int)(heading + 128.0f), 0);
    mth->CalcRotationMatrix();
    mth->RotateCords(&v, &v, 1);
    return v;
}

void KillPlayer()
{
    if (P1.State == PLAYER_DYING)
        return;
    P1.Seconds += PLAYER_DEATH_PENALTY;
    P1.Deaths++;
    G.Sound->PlaySample(G.SampleDeath, 100);
    P1.State = PLAYER_DYING;
    P1.Frame = 173;
    P1.Fraction = 0.0f;
    P1.Step = 1;
    P1.DeathCountdown = PLAYER_DEATH_TICKS;
}

static void PLAY_SetState(int32_t state, int32_t frame)
{
    P1.State = state;
    P1.Frame = frame;
    P1.Fraction = 0.0f;
    P1.Step = 1;
}

static void PLAY_Animate()
{
    float rate = P1.State == PLAYER_WALKING || P1.State == PLAYER_DYING ? 0.05f : 0.1f;
    if (P1.State == PLAYER_DYING && --P1.DeathCountdown <= 0) {
        RespawnPlayer();
        return;
    }
    P1.Fraction += rate;
    if (P1.Fraction < 1.0f)
        return;
    P1.Fraction = 0.0f;
    switch (P1.State) {
    case PLAYER_IDLE:
        P1.Frame += P1.Step;
        if (P1.Frame >= 39 || P1.Frame <= 0)
            P1.Step = -P1.Step;
        break;
    case PLAYER_WALKING:
        if (++P1.Frame > 44)
            P1.Frame = 40;
        break;
    case PLAYER_SHOOTING:
        P1.Frame += P1.Step;
        if (P1.Frame >= 53 || P1.Frame <= 46)
            PLAY_SetState(PLAYER_IDLE, 0);
        break;
    case PLAYER_DYING:
        if (P1.Frame < 177)
            P1.Frame++;
        break;
    }
}

// Turning, walking and firing; true when this tick took a step.
static bool PLAY_Keys()
{
    CZKbd* kbd = G.Engine->Kbd;
    if (kbd->KeyState(KEY_LEFT)) {
        P1.HeadingTarget += PLAYER_TURN;
        g_hudScroll -= PLAYER_TURN_SCROLL;
    }
    if (kbd->KeyState(KEY_RIGHT)) {
        P1.HeadingTarget -= PLAYER_TURN;
        g_hudScroll += PLAYER_TURN_SCROLL;
    }
    bool fire = kbd->KeyState(KEY_SPACE) != 0;
    bool stepped = false;
    if (kbd->KeyState(KEY_UP) && !fire) {
        P1.Move = PLAY_Turn({0.0f, 0.0f, PLAYER_STEP}, P1.HeadingTarget);
        P1.Position.x += P1.Move.x;
        P1.Position.z += P1.Move.z;
        stepped = true;
        if (P1.State != PLAYER_WALKING)
            PLAY_SetState(PLAYER_WALKING, 40);
        // The library may refuse the loop (all playbacks busy): ask again next step.
        if (!P1.WalkChannel)
            P1.WalkChannel = G.Sound->PlaySampleLoop(G.SampleWalk, 30);
        else
            G.Sound->Resume(P1.WalkChannel);
    } else {
        if (P1.WalkChannel)
            G.Sound->Pause(P1.WalkChannel);
        if (P1.State != PLAYER_IDLE && P1.State != PLAYER_SHOOTING)
            PLAY_SetState(PLAYER_IDLE, 0);
    }
    if (fire && P1.State != PLAYER_SHOOTING) {
        PLAY_SetState(PLAYER_SHOOTING, 46);
        Vector3 d = PLAY_Turn({0.0f, 0.0f, PLAYER_STEP}, P1.HeadingTarget);
        Vector3 to = {P1.Position.x + d.x, P1.Position.y + d.y, P1.Position.z + d.z};
        G.Shots->Fire(P1.Position, to, nullptr);
        G.Sound->PlaySample(G.SampleShot, 80);
    }
    return stepped;
}

// Steps up what is at most PLAYER_STEP_LIMIT raises high, undoes a step into
// anything higher, falls and lands. The raises are counted, not measured:
// six raises of 0.05 add up to a hair above or below 0.3 in floats.
static void PLAY_Ground(bool stepped)
{
    Sphere3 s = {P1.Position, PLAYER_RADIUS};
    if (TouchesScene(&s)) {
        int raises = 0;
        do {
            s.Center.y += PLAYER_RAISE;
            raises++;
        } while (raises < PLAYER_RAISE_TRIES && TouchesScene(&s));
        if (raises > PLAYER_STEP_LIMIT) {
            if (stepped) {
                P1.Position.x -= P1.Move.x;
                P1.Position.z -= P1.Move.z;
            }
        } else {
            P1.Position.y = s.Center.y;
        }
        return;
    }
    s.Center.y -= P1.FallSpeed;
    if (TouchesScene(&s)) {
        for (int n = 0; n < PLAYER_LAND_TRIES && TouchesScene(&s); n++)
            s.Center.y += PLAYER_RAISE;
        P1.FallSpeed = PLAYER_FALL_FIRST;
    } else {
        P1.FallSpeed += PLAYER_FALL_FIRST;
        if (P1.FallSpeed > PLAYER_FALL_MAX)
            P1.FallSpeed = PLAYER_FALL_MAX;
    }
    P1.Position.y = s.Center.y;
}

// Test build: the run as the watchers see it, at the end of the tick's
// fighting (soldiers and shots came first).
static void PLAY_Publish()
{
    BF04_PROBE_DO({
        BF04_PLAY& r = P->Play;
        r.Position[0] = P1.Position.x;
        r.Position[1] = P1.Position.y;
        r.Position[2] = P1.Position.z;
        r.HeadingTarget = P1.HeadingTarget;
        r.Heading = P1.Heading;
        r.State = P1.State;
        r.FallSpeed = P1.FallSpeed;
        r.Seconds = P1.Seconds;
        r.Milliseconds = P1.Milliseconds;
        r.Kills = P1.Kills;
        r.Deaths = P1.Deaths;
        r.ScoreThreads = Counters.ScoreThreads;
        r.SceneTests = Counters.SceneTests;
        r.Shots = G.Shots->ShotCount;
        r.Explosions = G.Shots->ExplosionCount;
        r.Footsteps = P1.WalkChannel ? G.Sound->State(P1.WalkChannel) : 0;
        for (int i = 0; i < G.SoldierCount && i < BF04_PROBE_SOLDIERS; i++) {
            r.SoldierX[i] = G.Soldiers[i]->X;
            r.SoldierZ[i] = G.Soldiers[i]->Z;
            r.SoldierState[i] = G.Soldiers[i]->State;
        }
    });
}

static void PLAY_Update()
{
    CZMth* mth = G.Engine->Mth;
    BF04_FLAGS& f = G.F;
    P1.Target = P1.Position;
    P1.Target.y += 0.9f;
    Vector3 offset = PLAY_Turn(P1.State == PLAYER_DYING ? kEyeOffsetDying : kEyeOffset, P1.Heading);
    P1.Eye = {offset.x + P1.Position.x, offset.y + P1.Position.y, offset.z + P1.Position.z};
    P1.Eye.x += mth->GetSinus(P1.Bob);
    P1.Eye.y += mth->GetCosinus(P1.Bob) * 0.2f;
    P1.Bob += f.Shake > 0 ? mth->Rnd() : 1;
    g_hudScroll += mth->GetSinus(P1.Bob) * PLAYER_SWAY;
    if (P1.Heading > P1.HeadingTarget)
        P1.Heading -= (P1.Heading - P1.HeadingTarget) * PLAYER_HEADING_RATE;
    if (P1.Heading < P1.HeadingTarget)
        P1.Heading += (P1.HeadingTarget - P1.Heading) * PLAYER_HEADING_RATE;
    PLAY_Animate();

    if (f.WinCountdown > 0 && --f.WinCountdown == 0 && !f.Automatic) {
        StartScoreSubmission();
        f.Won = 1;
        f.TextPage = 0;
        P1.Position = {PLAYER_TV_X, PLAYER_TV_Y, PLAYER_TV_Z};
        P1.HeadingTarget = PLAYER_TV_HEADING;
    }

    bool stepped = false;
    if (!f.MenuShown && !f.Won && !f.Automatic && P1.State != PLAYER_DYING)
        stepped = PLAY_Keys();
    ReadModeKeys();
    if (G.Engine->Kbd->KeyState(KEY_NOCLIP))
        return;

    Sphere3 body = {P1.Position, PLAYER_RADIUS};
    if (mth->TestSphereToSphere(&body, &kExit) && !f.WinCountdown && !f.Won) {
        G.Sound->PlaySample(G.SampleComplete, 80);
        f.WinCountdown = WIN_TICKS;
    }
    PLAY_Ground(stepped);
}

void UpdatePlayer()
{
    PLAY_Update();
    PLAY_Publish();
}

// The body and the weapon share the player's frame, place and heading.
void DrawPlayer(const Player& s)
{
    CZO3d* o3d = G.Engine->O3d;
    const unsigned long objects[2] = {G.A.PlayerBody, G.A.PlayerWeapon};
    for (unsigned long object : objects) {
        o3d->SetActualFrame(object, (unsigned long)s.Frame, s.Fraction, s.Step);
        o3d->SetObjectPosition(object, s.Position.x, s.Position.y, s.Position.z);
        o3d->SetObjectAngles(object, 0.0f, s.HeadingTarget, 0.0f);
        o3d->DrawAllObject(object, 3);
    }
}

void DrawPlayerShadow(const Player& s)
{
    CZO3d* o3d = G.Engine->O3d;
    o3d->SetObjectPosition(G.A.ShadowPlane, s.Position.x, s.Position.y - PLAYER_RADIUS, s.Position.z);
    o3d->SetObjectAngles(G.A.ShadowPlane, PLAYER_SHADOW_ANGLE, 0.0f, 0.0f);
    o3d->DrawAllObject(G.A.ShadowPlane, 3);
}
