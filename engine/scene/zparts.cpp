#include "zparts.h"

#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zmth.h"
#include "zprim.h"

// One bit per kind of caller mistake: each is logged once.
#define PARTS_REFUSE_INDEX 0x1u
#define PARTS_REFUSE_COUNT 0x2u
#define PARTS_REFUSE_FULL  0x4u

CZParts::CZParts()
    : H3d(nullptr), Mem(nullptr), Mth(nullptr), Debug(nullptr), SystemsLive(0), PointsQueued(0), CallsRefused(0),
      RefusalsLogged(0)
{
    memset(Systems, 0, sizeof(Systems));
}

CZParts::~CZParts()
{
    for (uint32_t i = 0; i < ZPARTS_MAX_SYSTEMS; i++)
        if (Systems[i])
            DestroySystem((unsigned long)(uintptr_t)Systems[i]);
}

// A caller's mistake: counted, and logged the first time of its kind.
#define PARTS_REFUSE(reason, ...)                                         \
    do {                                                                  \
        CallsRefused++;                                                   \
        if (Debug)                                                        \
            Debug->OutputDebugOnce(&RefusalsLogged, reason, __VA_ARGS__); \
    } while (0)

unsigned long CZParts::CreateSystem(unsigned long capacity)
{
    uint32_t slot = 0;
    while (slot < ZPARTS_MAX_SYSTEMS && Systems[slot])
        slot++;
    if (slot == ZPARTS_MAX_SYSTEMS) {
        PARTS_REFUSE(PARTS_REFUSE_FULL, "PARTS: CreateSystem: all 4000 particle systems are in use; destroy one first");
        return 0;
    }
    if (capacity > 0xFFFFFFFFu / sizeof(ZPARTS_PARTICLE))
        return 0;
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)Mem->GetMem(sizeof(ZPARTS_SYSTEM));
    if (!s)
        return 0;
    ZPARTS_PARTICLE* p = nullptr;
    if (capacity && !(p = (ZPARTS_PARTICLE*)Mem->GetMem(capacity * sizeof(ZPARTS_PARTICLE)))) {
        Mem->FreeMem(s, sizeof(ZPARTS_SYSTEM));
        return 0;
    }
    memset(s, 0, sizeof(*s));
    s->Capacity = capacity;
    s->Particles = p;
    s->TableIndex = slot;
    Systems[slot] = s;
    SystemsLive++;
    return (unsigned long)(uintptr_t)s;
}

void CZParts::DestroySystem(unsigned long system)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    if (!s || s->TableIndex >= ZPARTS_MAX_SYSTEMS || Systems[s->TableIndex] != s)
        return;
    Systems[s->TableIndex] = nullptr;
    SystemsLive--;
    if (s->Particles)
        Mem->FreeMem(s->Particles, s->Capacity * sizeof(ZPARTS_PARTICLE));
    Mem->FreeMem(s, sizeof(ZPARTS_SYSTEM));
}

bool CZParts::InsertParts(unsigned long system, Vector3* position, Vector3* direction)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    if (s->Count >= s->Capacity)
        return false;
    ZPARTS_PARTICLE* p = s->Particles + s->Count++;
    memset(p, 0, sizeof(*p));
    p->Active = 1;
    p->Position = *position;
    p->Direction = *direction;
    return true;
}

// The one place a particle index is checked: past the count lie records
// never written, past the capacity whatever follows the array.
ZPARTS_PARTICLE* CZParts::PARTS_Particle(unsigned long system, unsigned long index, const char* caller)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    if (index >= s->Count) {
        PARTS_REFUSE(PARTS_REFUSE_INDEX, "PARTS: %s: particle %lu of a system holding %u; ignored", caller, index,
                     s->Count);
        return nullptr;
    }
    return s->Particles + index;
}

// Array operations reach at most the inserted particles.
void CZParts::PARTS_Positions(unsigned long system, Vector3* positions, unsigned long n, bool set)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    if (n > s->Count) {
        PARTS_REFUSE(PARTS_REFUSE_COUNT, "PARTS: Set/GetSystemPositions: %lu positions for %u particles; only "
                                         "the inserted ones are used", n, s->Count);
        n = s->Count;
    }
    for (uint32_t i = 0; i < n; i++)
        if (set)
            s->Particles[i].Position = positions[i];
        else
            positions[i] = s->Particles[i].Position;
}

void CZParts::SetSystemPositions(unsigned long system, Vector3* positions, unsigned long n)
{
    PARTS_Positions(system, positions, n, true);
}

void CZParts::GetSystemPositions(unsigned long system, Vector3* positions, unsigned long n)
{
    PARTS_Positions(system, positions, n, false);
}

void CZParts::SetSystemTexture(unsigned long system, unsigned long texture)
{
    ((ZPARTS_SYSTEM*)(uintptr_t)system)->Texture = texture;
}

void CZParts::SetSubtype(unsigned long system, unsigned long subtype)
{
    ((ZPARTS_SYSTEM*)(uintptr_t)system)->Subtype = subtype;
}

void CZParts::SetSystemBase(unsigned long system, Vector3* base)
{
    ((ZPARTS_SYSTEM*)(uintptr_t)system)->Base = *base;
}

void CZParts::GetSystemBase(unsigned long system, Vector3* base)
{
    *base = ((ZPARTS_SYSTEM*)(uintptr_t)system)->Base;
}

static inline void PARTS_Add(Vector3* a, const Vector3* b)
{
    a->x += b->x;
    a->y += b->y;
    a->z += b->z;
}

void CZParts::MoveSystem(unsigned long system)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    ZPARTS_PARTICLE* p = s->Particles;
    for (uint32_t i = s->Count; i; i--, p++)
        if (p->Active & 0xFF)
            PARTS_Add(&p->Position, &p->Direction);
}

void CZParts::RotateSystem(unsigned long system)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    ZPARTS_PARTICLE* p = s->Particles;
    for (uint32_t i = s->Count; i; i--, p++)
        if (p->Active & 0xFF)
            for (int a = 0; a < 3; a++)
                p->Angles[a] += (float)p->Speeds[a];
}

void CZParts::ModifyPosition(unsigned long system, Vector3* d)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    ZPARTS_PARTICLE* p = s->Particles;
    for (uint32_t i = s->Count; i; i--, p++)
        if (p->Active & 0xFF)
            PARTS_Add(&p->Position, d);
}

void CZParts::ModifyDirection(unsigned long system, Vector3* d)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    ZPARTS_PARTICLE* p = s->Particles;
    for (uint32_t i = s->Count; i; i--, p++)
        if (p->Active & 0xFF)
            PARTS_Add(&p->Direction, d);
}

void CZParts::SetParticlePosition(unsigned long system, unsigned long index, Vector3* position)
{
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "SetParticlePosition"))
        p->Position = *position;
}

void CZParts::GetParticlePosition(unsigned long system, unsigned long index, Vector3* position)
{
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "GetParticlePosition"))
        *position = p->Position;
}

void CZParts::SetParticleDirection(unsigned long system, unsigned long index, Vector3* direction)
{
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "SetParticleDirection"))
        p->Direction = *direction;
}

void CZParts::GetParticleDirection(unsigned long system, unsigned long index, Vector3* direction)
{
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "GetParticleDirection"))
        *direction = p->Direction;
}

void CZParts::SetParticleRotation(unsigned long system, unsigned long index, Vector3* speeds)
{
    // Truncated toward zero; a negative speed wraps (unsigned by design).
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "SetParticleRotation")) {
        p->Speeds[0] = (uint32_t)(int32_t)speeds->x;
        p->Speeds[1] = (uint32_t)(int32_t)speeds->y;
        p->Speeds[2] = (uint32_t)(int32_t)speeds->z;
    }
}

void CZParts::GetParticleRotation(unsigned long system, unsigned long index, Vector3* speeds)
{
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "GetParticleRotation")) {
        speeds->x = (float)p->Speeds[0];
        speeds->y = (float)p->Speeds[1];
        speeds->z = (float)p->Speeds[2];
    }
}

void CZParts::SetParticleState(unsigned long system, unsigned long index, bool active)
{
    if (ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "SetParticleState"))
        p->Active = active ? 1 : 0;
}

bool CZParts::GetParticleState(unsigned long system, unsigned long index)
{
    ZPARTS_PARTICLE* p = PARTS_Particle(system, index, "GetParticleState");
    return p && (p->Active & 0xFF);
}

void CZParts::DrawSystem(unsigned long system)
{
    ZPARTS_SYSTEM* s = (ZPARTS_SYSTEM*)(uintptr_t)system;
    POINTSTRUCT point;
    point.u = point.v = 0.0f;     // copied by the renderer, never read
    point.Texture = s->Texture;
    point.Kind = ZPRIM_POINT;
    point.Flags = s->Subtype;
    ZPARTS_PARTICLE* p = s->Particles;
    for (uint32_t i = s->Count; i; i--, p++) {
        if (!(p->Active & 0xFF))
            continue;
        Mth->SetAngles((int)p->Angles[0], (int)p->Angles[1], (int)p->Angles[2]);
        Mth->SetTranslation(s->Base.x, s->Base.y, s->Base.z);
        Mth->CalcRotationMatrix();
        Mth->RotateCords(&p->Position, (Vector3*)&point.x, 1);
        H3d->DrawPoint(&point);
        PointsQueued++;
    }
}
