// The shot manager: every shot of the player and of the soldiers, their
// hits on the scene, the soldiers and the player, and the explosions they
// leave. Its lists have a lock of their own: the tick fires and moves shots
// (holding the game lock first), the frame loop draws them.
#include "actors.h"
#include "bf04.h"
#include "soundplayer.h"

ShotManager::ShotManager()
{
    SoldierList = nullptr;
    ShotCount = 0;
    ExplosionCount = 0;
    Engine = nullptr;
    FlareTexture = 0;
    InitializeCriticalSection(&Lock);
}

void ShotManager::Fire(const Vector3& from, const Vector3& to, Soldier* owner)
{
    Vector3 v = {to.x - from.x, to.y - from.y, to.z - from.z};
    Engine->Mth->Vector3Normalize(&v, Engine->Mth->Vector3Module(&v));
    Engine->Mth->Vector3EscalarMultiply(&v, SHOT_SPEED);
    EnterCriticalSection(&Lock);
    if (ShotCount < SHOT_MAX) {
        Shots[ShotCount++] = {{from.x, SHOT_HEIGHT, from.z}, v, SHOT_LIFE, 0, owner};
    } else if (Counters.ShotsRefused++ == 0) {
        Engine->Debug->OutputDebug("brolfest04: more than %d shots in flight; the rest are not fired\n", SHOT_MAX);
    }
    LeaveCriticalSection(&Lock);
}

// An explosion where a shot ended, heard from the player; close enough, it
// shakes the camera. `cry`: a soldier was hit.
void ShotManager::SHOT_Explode(const Vector3& at, float distance, float shakeWithin, bool cry)
{
    if (ExplosionCount < EXPLOSION_MAX) {
        Explosions[ExplosionCount++] = {at, EXPLOSION_SIZE};
    } else if (Counters.ExplosionsRefused++ == 0) {
        Engine->Debug->OutputDebug("brolfest04: more than %d explosions at once; the rest are not shown\n",
                                   EXPLOSION_MAX);
    }
    if (distance < SOUND_RANGE) {
        int volume = (int)(SOUND_RANGE - distance);
        G.Sound->PlaySample(G.SampleExplosion, volume);
        if (cry)
            G.Sound->PlaySample(G.SampleArgh, volume + 10);
    }
    if (distance < shakeWithin)
        G.F.Shake = PLAYER_SHAKE_TICKS;
}

void ShotManager::Update()
{
    CZMth* mth = Engine->Mth;
    const BF04_FLAGS& f = G.F;
    EnterCriticalSection(&Lock);
    for (int i = 0; i < ShotCount; i++) {
        ShotRecord& s = Shots[i];
        if (--s.Life <= 0)
            s.Dead = 1;
        s.Position.x += s.Velocity.x * 5.0f;
        s.Position.y += s.Velocity.y * 5.0f;
        s.Position.z += s.Velocity.z * 5.0f;
        Sphere3 t = {s.Position, SHOT_RADIUS};
        float d = mth->DistanceBetweenTwoVectors(&P1.Position, &s.Position, true);
        if (TouchesScene(&t)) {
            s.Dead = 1;
            SHOT_Explode(s.Position, d, 20.0f, false);
        }
        // A shot goes on through every soldier it touches this tick.
        for (int k = 0; k < G.SoldierCount; k++) {
            Soldier* enemy = SoldierList[k];
            if (enemy->State == SOLDIER_DEAD || enemy == s.Owner)
                continue;
            Sphere3 body = {{enemy->X, SOLDIER_Y, enemy->Z}, PLAYER_RADIUS};
            if (!mth->TestSphereToSphere(&body, &t))
                continue;
            s.Dead = 1;
            enemy->Kill();
            if (!s.Owner)
                P1.Kills++;
            SHOT_Explode(s.Position, d, 10.0f, true);
        }
        if (s.Owner) {
            Sphere3 player = {P1.Position, PLAYER_RADIUS};
            if (mth->TestSphereToSphere(&player, &t) && !f.MenuShown && !f.Won && !f.Automatic &&
                !f.WinCountdown) {
                KillPlayer();
                s.Dead = 1;
                SHOT_Explode(s.Position, d, 10.0f, false);
            }
        }
    }
    int kept = 0;
    for (int i = 0; i < ShotCount; i++)
        if (!Shots[i].Dead)
            Shots[kept++] = Shots[i];
    ShotCount = kept;
    kept = 0;
    for (int i = 0; i < ExplosionCount; i++) {
        Explosions[i].Radius -= EXPLOSION_SHRINK;
        if (Explosions[i].Radius >= EXPLOSION_END)
            Explosions[kept++] = Explosions[i];
    }
    ExplosionCount = kept;
    LeaveCriticalSection(&Lock);
}

void ShotManager::Draw()
{
    CZOctreeAABB* octree = Engine->OctreeAABB;
    CZO3d* o3d = Engine->O3d;
    const GameAssets& a = G.A;
    EnterCriticalSection(&Lock);
    for (int i = 0; i < ShotCount; i++) {
        const Vector3& p = Shots[i].Position;
        POINTSTRUCT point = {p.x, p.y, p.z, 1.0f, 1.0f, (uint32_t)FlareTexture, ZPRIM_POINT, 1};
        Engine->H3d->DrawPoint(&point);
        Sphere3 light = {p, SHOT_LIGHT_RADIUS};
        octree->DrawDynamicLight(a.SceneOctree, &light, a.ShotLight, a.LightFalloff);
    }
    for (int i = 0; i < ExplosionCount; i++) {
        Sphere3& e = Explosions[i];
        octree->DrawDynamicLight(a.SceneOctree, &e, a.ExplosionLight, a.LightFalloff);
        // The template's unscaled geometry back into the instance, then this size.
        o3d->CopyObject(a.Explosion, a.ExplosionInstance);
        o3d->ScaleObject(a.ExplosionInstance, (100.0f - e.Radius) * 0.05f + 1.0f);
        o3d->SetObjectPosition(a.ExplosionInstance, e.Center.x, e.Center.y, e.Center.z);
        unsigned long r = Engine->Mth->RndDWord();
        o3d->SetObjectAngles(a.ExplosionInstance, r, r, 0ul);
        o3d->DrawAllObject(a.ExplosionInstance, 3);
    }
    LeaveCriticalSection(&Lock);
}
