// CZParts: point-particle systems. A system is a fixed-capacity array of
// particles sharing a base position, a texture and render flags; each frame
// the caller nudges, moves and turns them and DrawSystem queues one point per
// active particle with the renderer. Main thread only.
#ifndef ZARQUEL_ZPARTS_H
#define ZARQUEL_ZPARTS_H

#include <cstdint>

#include "zapi.h"
#include "ztypes.h"

class CZH3d;
class CZMem;
class CZMth;
class CZDebug;

#define ZPARTS_MAX_SYSTEMS 4000

#pragma pack(push, 1)
struct ZPARTS_PARTICLE {
    uint32_t Active;        // low byte 1 when inserted and switched on
    Vector3 Position;       // relative to the system's base
    Vector3 Direction;      // added to the position by MoveSystem
    float Angles[3];        // CZMth angle units
    uint32_t Speeds[3];     // whole angle units added by RotateSystem
};

// A system; its address is the system handle.
struct ZPARTS_SYSTEM {
    uint32_t Capacity;
    uint32_t Count;         // particles inserted so far; only grows
    ZPARTS_PARTICLE* Particles;
    uint32_t Texture;
    uint32_t Subtype;       // render flags of every point
    uint32_t TableIndex;
    Vector3 Base;
};
#pragma pack(pop)
static_assert(sizeof(ZPARTS_PARTICLE) == 52, "particle record");
static_assert(sizeof(ZPARTS_SYSTEM) == 36 && offsetof(ZPARTS_SYSTEM, Base) == 24, "system record");

class ZQAPI CZParts {
public:
    CZParts();
    ~CZParts();

    // 0 when all ZPARTS_MAX_SYSTEMS are in use or memory ran out.
    unsigned long CreateSystem(unsigned long capacity);
    void DestroySystem(unsigned long system);
    bool InsertParts(unsigned long system, Vector3* position, Vector3* direction);
    void SetSystemPositions(unsigned long system, Vector3* positions, unsigned long n);
    void GetSystemPositions(unsigned long system, Vector3* positions, unsigned long n);
    void SetSystemTexture(unsigned long system, unsigned long texture);
    void SetSubtype(unsigned long system, unsigned long subtype);
    void SetSystemBase(unsigned long system, Vector3* base);
    void GetSystemBase(unsigned long system, Vector3* base);
    void MoveSystem(unsigned long system);
    void RotateSystem(unsigned long system);
    void ModifyPosition(unsigned long system, Vector3* d);
    void ModifyDirection(unsigned long system, Vector3* d);
    void SetParticlePosition(unsigned long system, unsigned long index, Vector3* position);
    void GetParticlePosition(unsigned long system, unsigned long index, Vector3* position);
    void SetParticleDirection(unsigned long system, unsigned long index, Vector3* direction);
    void GetParticleDirection(unsigned long system, unsigned long index, Vector3* direction);
    void SetParticleRotation(unsigned long system, unsigned long index, Vector3* speeds);
    void GetParticleRotation(unsigned long system, unsigned long index, Vector3* speeds);
    void SetParticleState(unsigned long system, unsigned long index, bool active);
    bool GetParticleState(unsigned long system, unsigned long index);
    void DrawSystem(unsigned long system);

    CZH3d* H3d;
    CZMem* Mem;
    CZMth* Mth;
    CZDebug* Debug;         // for the one-line refusals
    ZPARTS_SYSTEM* Systems[ZPARTS_MAX_SYSTEMS];

    uint32_t SystemsLive;
    uint32_t PointsQueued;          // since construction
    uint32_t CallsRefused;          // caller mistakes refused (each kind logged once)

private:
    ZPARTS_PARTICLE* PARTS_Particle(unsigned long system, unsigned long index, const char* caller);
    void PARTS_Positions(unsigned long system, Vector3* positions, unsigned long n, bool set);
    uint32_t RefusalsLogged;
};

#endif
