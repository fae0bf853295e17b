// The frustum of a camera, set on the renderer's public planes without a
// device: for the octree tests and bench_oct (under Wine).
#ifndef ZQ_OCT_CAMERA_H
#define ZQ_OCT_CAMERA_H

#include <cmath>

#include "zh3d.h"

// A camera at `eye` looking along yaw (around y, 0 = +z) and pitch, with the
// game's projection (60 x 45 degrees, near 1, far 380), as six inward planes.
inline void ZQ_OctCamera(CZH3d* h3d, Vector3 eye, float yaw, float pitch, float nearZ = 1, float farZ = 380)
{
    const float cp = cosf(pitch);
    const Vector3 f = {sinf(yaw) * cp, sinf(pitch), cosf(yaw) * cp};
    const Vector3 r = {cosf(yaw), 0, -sinf(yaw)};
    const Vector3 u = {f.y * r.z - f.z * r.y, f.z * r.x - f.x * r.z, f.x * r.y - f.y * r.x};
    const float hx = 30 * 0.017453292f, hy = 22.5f * 0.017453292f;
    auto mix = [](Vector3 a, float s, Vector3 b, float t) {
        return Vector3{a.x * s + b.x * t, a.y * s + b.y * t, a.z * s + b.z * t};
    };
    const Vector3 n[6] = {mix(r, cosf(hx), f, sinf(hx)), mix(r, -cosf(hx), f, sinf(hx)),
                          mix(u, -cosf(hy), f, sinf(hy)), mix(u, cosf(hy), f, sinf(hy)), f,
                          Vector3{-f.x, -f.y, -f.z}};
    for (int i = 0; i < 6; i++) {
        const float len = sqrtf(n[i].x * n[i].x + n[i].y * n[i].y + n[i].z * n[i].z);
        Plane& p = h3d->Frustum[i];
        p.a = n[i].x / len;
        p.b = n[i].y / len;
        p.c = n[i].z / len;
        p.d = -(p.a * eye.x + p.b * eye.y + p.c * eye.z);
    }
    h3d->Frustum[4].d -= nearZ;
    h3d->Frustum[5].d += farZ;
    h3d->CameraPosition = eye;
}

#endif
