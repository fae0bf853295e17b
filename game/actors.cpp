// The player's record and reset, and what the player, the soldiers and the
// shots share: the counted scene test, the view test.
#include "actors.h"
#include "bf04.h"

Player P1;
PlayCounters Counters;

static const Vector3 kPlayerStart = {-174.979f, 3.1f, 119.984f};

// What a respawn keeps: the position (the player rises where he fell).
void RespawnPlayer()
{
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

void ResetPlayer()
{
    P1.Position = kPlayerStart;
    RespawnPlayer();
}

bool TouchesScene(Sphere3* sphere)
{
    Counters.SceneTests++;
    return G.Engine->OctreeAABB->TestAABBWithSphere(G.A.SceneOctree, sphere, true);
}

bool SphereInView(float x, float y, float z, float radius)
{
    for (const Plane& p : G.Engine->H3d->Frustum)
        if (p.a * x + p.b * y + p.c * z + p.d < -radius)
            return false;
    return true;
}
