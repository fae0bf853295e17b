// The fifteen enemy soldiers: a walk along camera path 1, a look round now
// and then, shots along the way or at the player, death and a respawn at a
// new random place. Update runs in the tick under the game lock; Draw and
// DrawShadow in the frame loop, taking the lock for what they read.
#include <cmath>
#include "actors.h"
#include "bf04.h"
#include "camerapath.h"
#include "soundplayer.h"

#define SOLDIER_SHADOW_ANGLE 384.0f
#define SOLDIER_WALK_PACE 0.25f        // animation per unit of path covered

Soldier::Soldier(unsigned long weapon, unsigned long body, CZarquel* engine, CameraPath* path, ShotManager* shots)
{
    Weapon = weapon;
    Body = body;
    Engine = engine;
    Path = path;
    Shots = shots;
    X = Z = 0.0f;
    Y = SOLDIER_Y;
    PathPosition = engine->Mth->Rnd() / 65536.0f;
    Heading = 0.0f;
    RespawnCountdown = 0;
    State = SOLDIER_WALKING;
    Frame = 40;
    Fraction = 0.0f;
    Step = 1;
}

// The float angle (1/511 turn) that turns the model, whose forward is +x,
// toward (dx, dz). The engine's rotation with second angle B takes +x to
// (-sin B, 0, cos B).
float Soldier::HeadingToward(float dx, float dz)
{
    if (dx == 0.0f && dz == 0.0f)
        return 0.0f;
    return atan2f(-dx, dz) / ZMTH_FLOAT_ANGLE_SCALE;
}

void Soldier::SOLD_Face(float tx, float tz)
{
    if (tx != X || tz != Z)
        Heading = HeadingToward(tx - X, tz - Z);
}

// A walking soldier stands on the path and faces along it.
void Soldier::SOLD_Place()
{
    Vector3 p = Path->Eval(PathPosition);
    Vector3 q = Path->Eval(PathPosition + SOLDIER_LOOK_AHEAD);
    X = p.x;
    Y = p.y;
    Z = p.z;
    SOLD_Face(q.x, q.z);
}

void Soldier::Kill()
{
    if (State == SOLDIER_DEAD)
        return;
    State = SOLDIER_DEAD;
    Frame = 178;
    Fraction = 0.0f;
    Step = 1;
    RespawnCountdown = SOLDIER_RESPAWN_TICKS;
}

static void SOLD_Set(Soldier* s, int32_t state, int32_t frame)
{
    s->State = state;
    s->Frame = frame;
    s->Fraction = 0.0f;
    s->Step = 1;
}

// The look round and the firing play back and forth: true when the frame
// reaches an end, where the step reverses.
static bool SOLD_Swing(Soldier* s, int32_t first, int32_t last)
{
    s->Fraction += 0.1f;
    if (s->Fraction < 1.0f)
        return false;
    s->Fraction = 0.0f;
    s->Frame += s->Step;
    if (s->Frame > first && s->Frame < last)
        return false;
    s->Step = -s->Step;
    return true;
}

// At each end of the firing animation: a shot along the way (3 in 4) or at
// the player, heard from where it starts.
void Soldier::SOLD_Fire()
{
    CZMth* mth = Engine->Mth;
    Vector3 from, to;
    if (mth->Rnd() & 3) {
        Vector3 p = Path->Eval(PathPosition), q = Path->Eval(PathPosition + SOLDIER_LOOK_AHEAD);
        from = {p.x, SOLDIER_GUN_Y, p.z};
        to = {q.x, SOLDIER_GUN_Y, q.z};
        Counters.ShotsAlong++;
    } else {
        SOLD_Face(P1.Position.x, P1.Position.z);
        from = {X, SOLDIER_GUN_Y, Z};
        to = {P1.Position.x, SOLDIER_GUN_Y, P1.Position.z};
        Counters.ShotsAtPlayer++;
    }
    Shots->Fire(from, to, this);
    float d = mth->DistanceBetweenTwoVectors(&from, &P1.Position, true);
    if (d < SOUND_RANGE)
        G.Sound->PlaySample(G.SampleShot, (int)(SOUND_RANGE - d));
}

void Soldier::Update()
{
    CZMth* mth = Engine->Mth;
    switch (State) {
    case SOLDIER_WALKING: {
        Vector3 p = Path->Eval(PathPosition), q = Path->Eval(PathPosition + SOLDIER_LOOK_AHEAD);
        Fraction += mth->DistanceBetweenTwoVectors(&p, &q, true) * SOLDIER_WALK_PACE;
        if (Fraction >= 1.0f) {
            Fraction = 0.0f;
            if (++Frame > 44) {
                Frame = 40;
                Counters.WalkCycles++;
                if ((mth->Rnd() & 7) == 0) {
                    SOLD_Set(this, SOLDIER_IDLE, 0);
                    Counters.WalkToIdle++;
                } else if ((mth->Rnd() & 3) == 0) {
                    SOLD_Set(this, SOLDIER_SHOOTING, 46);
                }
            }
        }
        if (PathPosition >= 1.0f)
            PathPosition = 0.0f;
        PathPosition += SOLDIER_PATH_STEP;
        SOLD_Place();
        break;
    }
    case SOLDIER_IDLE:
        if (SOLD_Swing(this, 0, 39)) {
            if (mth->Rnd() & 1)
                SOLD_Set(this, SOLDIER_SHOOTING, 46);
            else
                SOLD_Set(this, SOLDIER_WALKING, 40);
        }
        break;
    case SOLDIER_SHOOTING:
        if (SOLD_Swing(this, 46, 53)) {
            SOLD_Fire();
            if (!(mth->Rnd() & 1))
                SOLD_Set(this, SOLDIER_WALKING, 40);
        }
        break;
    case SOLDIER_DEAD:
        if (--RespawnCountdown <= 0) {
            X = Z = 0.0f;
            Y = SOLDIER_Y;
            PathPosition = mth->Rnd() / 65536.0f;
            SOLD_Set(this, SOLDIER_WALKING, 40);
            SOLD_Place();
            break;
        }
        Fraction += 0.05f;
        if (Fraction >= 1.0f) {
            Fraction = 0.0f;
            if (Frame < 183)
                Frame++;
        }
        break;
    }
}

void Soldier::Draw()
{
    EnterCriticalSection(&G.Lock);
    if (State == SOLDIER_WALKING)
        SOLD_Place();
    Soldier s = *this;
    LeaveCriticalSection(&G.Lock);
    // Most of the fifteen are out of view: their frames are not transformed and queued.
    if (!SphereInView(s.X, SOLDIER_Y, s.Z, G.A.SoldierReach))
        return;
    CZO3d* o3d = Engine->O3d;
    const unsigned long objects[2] = {s.Body, s.Weapon};
    for (int i = 0; i < (s.State == SOLDIER_DEAD ? 1 : 2); i++) {
        o3d->SetActualFrame(objects[i], (unsigned long)s.Frame, s.Fraction, s.Step);
        o3d->SetObjectAngles(objects[i], 0.0f, s.Heading, 0.0f);
        o3d->SetObjectPosition(objects[i], s.X, SOLDIER_Y, s.Z);
        o3d->DrawAllObject(objects[i], 3);
    }
}

void Soldier::DrawShadow()
{
    EnterCriticalSection(&G.Lock);
    float x = X, z = Z;
    LeaveCriticalSection(&G.Lock);
    CZO3d* o3d = Engine->O3d;
    o3d->SetObjectPosition(G.A.ShadowPlane, x, SOLDIER_SHADOW_Y, z);
    o3d->SetObjectAngles(G.A.ShadowPlane, SOLDIER_SHADOW_ANGLE, 0.0f, 0.0f);
    o3d->DrawAllObject(G.A.ShadowPlane, 3);
}
