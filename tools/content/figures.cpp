#include "figures.h"

#include <algorithm>
#include <cmath>

#include "rng.h"
#include "world.h"

namespace {

struct Mat3 {
    float m[9];
};

Mat3 Ident() { return {{1, 0, 0, 0, 1, 0, 0, 0, 1}}; }
Mat3 Mul(const Mat3& a, const Mat3& b)
{
    Mat3 r;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r.m[i * 3 + j] = a.m[i * 3] * b.m[j] + a.m[i * 3 + 1] * b.m[3 + j] + a.m[i * 3 + 2] * b.m[6 + j];
    return r;
}
Vector3 Apply(const Mat3& a, Vector3 v)
{
    return {a.m[0] * v.x + a.m[1] * v.y + a.m[2] * v.z, a.m[3] * v.x + a.m[4] * v.y + a.m[5] * v.z,
            a.m[6] * v.x + a.m[7] * v.y + a.m[8] * v.z};
}
float Rad(float deg) { return deg * (float)M_PI / 180.0f; }
// Rotations in degrees about z (positive swings a hanging limb toward +x,
// forward), x (positive swings it toward -z) and y.
Mat3 Rz(float d)
{
    float c = std::cos(Rad(d)), s = std::sin(Rad(d));
    return {{c, -s, 0, s, c, 0, 0, 0, 1}};
}
Mat3 Rx(float d)
{
    float c = std::cos(Rad(d)), s = std::sin(Rad(d));
    return {{1, 0, 0, 0, c, -s, 0, s, c}};
}
Mat3 Ry(float d)
{
    float c = std::cos(Rad(d)), s = std::sin(Rad(d));
    return {{c, 0, s, 0, 1, 0, -s, 0, c}};
}

struct Xf {
    Mat3 R = Ident();
    Vector3 T = {0, 0, 0};
    Vector3 operator()(Vector3 p) const
    {
        Vector3 q = Apply(R, p);
        return {q.x + T.x, q.y + T.y, q.z + T.z};
    }
};
// The child joint at `at` in the parent's space, turned by `r`.
Xf Child(const Xf& parent, Vector3 at, const Mat3& r)
{
    Xf x;
    x.R = Mul(parent.R, r);
    x.T = parent(at);
    return x;
}

// Angles in degrees; side 0 is the right (+z), 1 the left.
struct Pose {
    float RootPitch = 0;            // positive leans the whole body back
    float TorsoPitch = 0, TorsoYaw = 0, HeadYaw = 0, HeadPitch = 0;
    float Swing[2] = {0, 0}, Spread[2] = {0, 0}, Elbow[2] = {0, 0};
    float Hip[2] = {0, 0}, Knee[2] = {0, 0}, Ankle[2] = {0, 0};
};

Pose Blend(const Pose& a, const Pose& b, float t)
{
    Pose r;
    const float* pa = &a.RootPitch;
    const float* pb = &b.RootPitch;
    float* pr = &r.RootPitch;
    for (size_t i = 0; i < sizeof(Pose) / sizeof(float); i++)
        pr[i] = pa[i] + (pb[i] - pa[i]) * t;
    return r;
}

float Smooth(float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

// Gun held low in front, both hands on it.
Pose Carry()
{
    Pose p;
    p.Swing[0] = 12, p.Elbow[0] = 62, p.Spread[0] = -4;
    p.Swing[1] = 34, p.Elbow[1] = 62, p.Spread[1] = -30;
    p.TorsoPitch = -3;
    return p;
}

// Gun at the shoulder, pointing ahead.
Pose Aim()
{
    Pose p;
    p.Swing[0] = 78, p.Elbow[0] = 14, p.Spread[0] = -12;
    p.Swing[1] = 74, p.Elbow[1] = 30, p.Spread[1] = -42;
    p.TorsoPitch = -6, p.TorsoYaw = 6, p.HeadPitch = -4;
    p.Hip[0] = 8, p.Hip[1] = -8, p.Knee[0] = 8, p.Knee[1] = 12;
    return p;
}

Pose PoseAt(CgFigure which, int frame)
{
    int deathFirst = which == CG_SOLDIER ? CG_SOLDIER_DEATH_FIRST : CG_PLAYER_DEATH_FIRST;
    int deathLast = which == CG_SOLDIER ? CG_SOLDIER_DEATH_LAST : CG_PLAYER_DEATH_LAST;
    if (frame >= deathFirst && frame <= deathLast) {
        // Hit, knees give, falls on his back.
        float t = (float)(frame - deathFirst) / (deathLast - deathFirst);
        Pose p = Carry();
        p.RootPitch = 92 * std::pow(t, 1.4f);
        p.TorsoPitch = 14 * std::sin(t * (float)M_PI);
        p.HeadPitch = 20 * t;
        for (int s = 0; s < 2; s++) {
            // Arms thrown out to the sides, legs kick and settle flat.
            p.Swing[s] = 12 + (s ? 10.0f : 25.0f) * std::sin(t * (float)M_PI) - 12 * t;
            p.Spread[s] = -4 - 74 * t;
            p.Elbow[s] = 62 - 50 * t;
            p.Hip[s] = 28 * std::sin(t * (float)M_PI) * (s ? 0.6f : 1.0f) - 10 * t;
            p.Knee[s] = 60 * std::sin(t * (float)M_PI) * (s ? 1.0f : 0.7f);
        }
        return p;
    }
    if (frame >= CG_WALK_FIRST && frame <= CG_WALK_LAST + 1) {
        float ph = 2 * (float)M_PI * (frame - CG_WALK_FIRST) / (CG_WALK_LAST - CG_WALK_FIRST + 1);
        Pose p = Carry();
        for (int s = 0; s < 2; s++) {
            float q = ph + (s ? (float)M_PI : 0.0f);
            p.Hip[s] = 30 * std::sin(q);
            p.Knee[s] = 8 + 48 * std::max(0.0f, std::cos(q));
            p.Ankle[s] = -10 * std::sin(q);
        }
        p.Swing[0] += 5 * std::sin(ph);
        p.Swing[1] += 8 * std::sin(ph + (float)M_PI);
        p.TorsoPitch = -7;
        p.TorsoYaw = 6 * std::sin(ph);
        return p;
    }
    if (frame >= CG_SHOOT_FIRST && frame <= CG_SHOOT_LAST) {
        int k = frame - CG_SHOOT_FIRST;
        Pose p = Blend(Carry(), Aim(), Smooth(k / 5.0f));
        if (frame == CG_SHOOT_LAST || frame == CG_SHOOT_LAST - 1) {   // the kick
            float kick = frame == CG_SHOOT_LAST ? 1.0f : 0.4f;
            p.Swing[0] += 8 * kick, p.Swing[1] += 6 * kick;
            p.TorsoPitch += 5 * kick;
            p.HeadPitch += 3 * kick;
        }
        return p;
    }
    // Idle: looks round slowly from right to left (the game plays it back
    // and forth), breathing; the frames the game does not use idle too.
    int k = frame % (CG_IDLE_LAST + 1);
    float t = Smooth((float)k / CG_IDLE_LAST);
    Pose p = Carry();
    p.HeadYaw = 35 - 70 * t;
    p.TorsoYaw = 10 - 20 * t;
    float breath = std::sin(2 * (float)M_PI * k / 13.0f);
    p.TorsoPitch = -3 + 1.5f * breath;
    p.Swing[0] += 2 * breath, p.Swing[1] += 2 * breath;
    p.Hip[0] = 3, p.Hip[1] = -3;
    return p;
}

// A box: centre, size, the bone it moves with, and texture regions (u0,
// v0, u1, v1) for its front (+x) side and the rest.
struct Box {
    Vector3 Centre, Size;
    int Bone;
    float Front[4], Rest[4];
};

enum Bones { B_ROOT, B_TORSO, B_HEAD, B_UPPER_R, B_UPPER_L, B_FORE_R, B_FORE_L, B_THIGH_R, B_THIGH_L, B_SHIN_R,
             B_SHIN_L, B_FOOT_R, B_FOOT_L, B_COUNT };

// Atlas quarters: cloth top-left, trousers top-right, skin bottom-left
// (the face in it), gear bottom-right.
const float Q_TOP[4] = {0.02f, 0.02f, 0.48f, 0.48f}, Q_LEGS[4] = {0.52f, 0.02f, 0.98f, 0.48f},
            Q_FACE[4] = {0.02f, 0.52f, 0.48f, 0.98f}, Q_SKIN[4] = {0.03f, 0.53f, 0.1f, 0.6f},
            Q_GEAR[4] = {0.52f, 0.52f, 0.98f, 0.98f}, Q_HAIR[4] = {0.4f, 0.53f, 0.47f, 0.6f};

std::vector<Box> BodyBoxes(CgFigure which)
{
    bool soldier = which == CG_SOLDIER;
    const float* boots = Q_GEAR;
    std::vector<Box> b;
    auto add = [&](Vector3 c, Vector3 s, int bone, const float* front, const float* rest) {
        Box x;
        x.Centre = c, x.Size = s, x.Bone = bone;
        std::copy(front, front + 4, x.Front);
        std::copy(rest, rest + 4, x.Rest);
        b.push_back(x);
    };
    add({0, 0, 0}, {5.6f, 5.0f, 9.4f}, B_ROOT, Q_LEGS, Q_LEGS);                       // 0 pelvis
    add({0, 7, 0}, {6, 14, 11}, B_TORSO, Q_TOP, Q_TOP);                                 // 1 chest
    add({0, 1, 0}, {2.6f, 2, 2.6f}, B_HEAD, Q_SKIN, Q_SKIN);                            // 2 neck
    add({0.3f, 5, 0}, {6, 7, 5.6f}, B_HEAD, Q_FACE, Q_SKIN);                            // 3 head
    if (soldier)
        add({0, 8.4f, 0}, {7.2f, 2.4f, 6.8f}, B_HEAD, Q_GEAR, Q_GEAR);                  // 4 helmet
    else
        add({-0.4f, 8.6f, 0}, {6.4f, 1.4f, 6.0f}, B_HEAD, Q_HAIR, Q_HAIR);              // 4 hair
    add({0, -4.7f, 0}, {3.4f, 9.4f, 3.4f}, B_UPPER_R, Q_TOP, Q_TOP);                   // 5
    add({0, -4.7f, 0}, {3.4f, 9.4f, 3.4f}, B_UPPER_L, Q_TOP, Q_TOP);                   // 6
    add({0, -4.5f, 0}, {3, 9, 3}, B_FORE_R, Q_TOP, Q_TOP);                             // 7
    add({0, -4.5f, 0}, {3, 9, 3}, B_FORE_L, Q_TOP, Q_TOP);                             // 8
    add({0, -10.3f, 0}, {2.6f, 2.6f, 2.6f}, B_FORE_R, soldier ? Q_GEAR : Q_SKIN,
        soldier ? Q_GEAR : Q_SKIN);                                                      // 9 right hand
    add({0, -10.3f, 0}, {2.6f, 2.6f, 2.6f}, B_FORE_L, soldier ? Q_GEAR : Q_SKIN, soldier ? Q_GEAR : Q_SKIN);
    add({0, -5.75f, 0}, {4.4f, 11.5f, 4.4f}, B_THIGH_R, Q_LEGS, Q_LEGS);
    add({0, -5.75f, 0}, {4.4f, 11.5f, 4.4f}, B_THIGH_L, Q_LEGS, Q_LEGS);
    add({0, -5.25f, 0}, {3.8f, 10.5f, 3.8f}, B_SHIN_R, Q_LEGS, Q_LEGS);
    add({0, -5.25f, 0}, {3.8f, 10.5f, 3.8f}, B_SHIN_L, Q_LEGS, Q_LEGS);
    add({1.4f, -1.0f, 0}, {7, 2, 3.6f}, B_FOOT_R, boots, boots);
    add({1.4f, -1.0f, 0}, {7, 2, 3.6f}, B_FOOT_L, boots, boots);
    if (soldier)   // the vest over the chest, the belt
        add({0.2f, 8.6f, 0}, {6.8f, 8.6f, 11.6f}, B_TORSO, Q_GEAR, Q_GEAR);
    return b;
}

const float W_ALL[4] = {0.02f, 0.02f, 0.98f, 0.98f};

// In the right forearm's space: the forearm runs along -y to the hand at
// y -10.3; the gun lies along the forearm, its top toward +x.
std::vector<Box> WeaponBoxes(CgFigure which)
{
    std::vector<Box> b;
    auto add = [&](Vector3 c, Vector3 s) {
        Box x;
        x.Centre = c, x.Size = s, x.Bone = B_FORE_R;
        std::copy(W_ALL, W_ALL + 4, x.Front);
        std::copy(W_ALL, W_ALL + 4, x.Rest);
        b.push_back(x);
    };
    add({1.2f, -10.3f, 0}, {3.4f, 1.8f, 1.6f});           // grip, in the hand (CG_GRIP_BOX)
    if (which == CG_SOLDIER) {
        add({3.2f, -12.5f, 0}, {2.8f, 13.0f, 2.2f});      // receiver
        add({3.5f, -23.5f, 0}, {1.2f, 9.0f, 1.2f});       // barrel
        add({2.6f, -3.5f, 0}, {3.4f, 6.0f, 1.8f});        // stock
        add({0.6f, -15.0f, 0}, {3.6f, 2.4f, 1.4f});       // magazine
        add({5.0f, -12.0f, 0}, {1.0f, 4.0f, 1.0f});       // sight
    } else {
        add({3.0f, -13.0f, 0}, {3.2f, 9.0f, 2.6f});       // blaster body
        add({3.2f, -19.5f, 0}, {2.0f, 4.0f, 2.0f});       // muzzle
        add({3.2f, -22.0f, 0}, {2.8f, 1.2f, 2.8f});       // emitter ring
        add({4.9f, -12.0f, 0}, {0.8f, 6.0f, 0.8f});       // glowing rail
    }
    return b;
}

void BoneTransforms(const Pose& p, Xf* bone)
{
    Xf origin;
    origin.T = {0, 1.5f, 0};
    bone[B_ROOT] = Child(origin, {0, 0, 0}, Rz(p.RootPitch));
    bone[B_TORSO] = Child(bone[B_ROOT], {0, 2.5f, 0}, Mul(Ry(p.TorsoYaw), Rz(p.TorsoPitch)));
    bone[B_HEAD] = Child(bone[B_TORSO], {0, 14, 0}, Mul(Ry(p.HeadYaw), Rz(p.HeadPitch)));
    for (int s = 0; s < 2; s++) {
        float side = s ? -1.0f : 1.0f;
        bone[B_UPPER_R + s] = Child(bone[B_TORSO], {0, 12.6f, side * 6.9f}, Mul(Rx(-side * p.Spread[s]), Rz(p.Swing[s])));
        bone[B_FORE_R + s] = Child(bone[B_UPPER_R + s], {0, -9.4f, 0}, Rz(p.Elbow[s]));
        bone[B_THIGH_R + s] = Child(bone[B_ROOT], {0, -1.5f, side * 2.6f}, Rz(p.Hip[s]));
        bone[B_SHIN_R + s] = Child(bone[B_THIGH_R + s], {0, -11.5f, 0}, Rz(-p.Knee[s]));
        bone[B_FOOT_R + s] = Child(bone[B_SHIN_R + s], {0, -10.5f, 0}, Rz(p.Ankle[s]));
    }
}

// The six sides of a box as quads: corners in order round each side, its
// outward direction, and texture coordinates from the box's regions.
struct Side {
    Vector3 P[4];
    Vector3 N;
    float Uv[8];
};

void BoxSides(const Box& b, const Xf& x, float lift, Side out[6])
{
    const Vector3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int f = 0; f < 6; f++) {
        Vector3 n = axes[f];
        // Two axes across the side: "right" and "up" as seen from outside.
        Vector3 up = std::fabs(n.y) > 0.5f ? Vector3{1, 0, 0} : Vector3{0, 1, 0};
        Vector3 right = {up.y * n.z - up.z * n.y, up.z * n.x - up.x * n.z, up.x * n.y - up.y * n.x};
        const float su[4] = {-1, 1, 1, -1}, sv[4] = {1, 1, -1, -1};
        const float* r = f == 0 ? b.Front : b.Rest;
        for (int k = 0; k < 4; k++) {
            Vector3 local = {b.Centre.x + 0.5f * b.Size.x * (n.x + su[k] * right.x + sv[k] * up.x),
                             b.Centre.y + 0.5f * b.Size.y * (n.y + su[k] * right.y + sv[k] * up.y),
                             b.Centre.z + 0.5f * b.Size.z * (n.z + su[k] * right.z + sv[k] * up.z)};
            Vector3 w = x(local);
            w.y += lift;
            out[f].P[k] = w;
            out[f].Uv[k * 2] = su[k] < 0 ? r[0] : r[2];
            out[f].Uv[k * 2 + 1] = sv[k] > 0 ? r[1] : r[3];
        }
        out[f].N = Apply(x.R, n);
    }
}

void Emit(O3dObject* o, const std::vector<Box>& boxes, const Xf* bone, float lift, bool first)
{
    for (const Box& b : boxes) {
        Side sides[6];
        BoxSides(b, bone[b.Bone], lift, sides);
        for (const Side& s : sides) {
            if (first) {
                CgQuad(o, s.P, s.Uv, s.N, 0, true);
            } else {
                for (int k = 0; k < 4; k++) {
                    o->Frames.back().Vertices.push_back(s.P[k]);
                    o->Frames.back().Normals.push_back(s.N);
                }
            }
        }
    }
}

}  // namespace

int CgFigureFrames(CgFigure which) { return which == CG_SOLDIER ? CG_SOLDIER_DEATH_LAST + 1 : CG_PLAYER_DEATH_LAST + 1; }

void CgBuildFigure(CgFigure which, O3dObject* body, O3dObject* weapon)
{
    std::vector<Box> bodyBoxes = BodyBoxes(which), gunBoxes = WeaponBoxes(which);
    O3dObject* objects[2] = {body, weapon};
    for (O3dObject* o : objects) {
        *o = O3dObject();
        o->Materials.resize(1);
        o->Materials[0].Type = ZO3D_MAT_TEXTURED;
    }
    body->Name = which == CG_SOLDIER ? "soldier" : "player";
    weapon->Name = "weapon";
    for (int f = 0; f < CgFigureFrames(which); f++) {
        Xf bone[B_COUNT];
        BoneTransforms(PoseAt(which, f), bone);
        // Stand the pose on the ground: its lowest point at the feet's level.
        float low = 1e9f;
        for (const Box& b : bodyBoxes) {
            Side sides[6];
            BoxSides(b, bone[b.Bone], 0, sides);
            for (const Side& s : sides)
                for (const Vector3& p : s.P)
                    low = std::min(low, p.y);
        }
        for (O3dObject* o : objects)
            o->Frames.emplace_back();
        Emit(body, bodyBoxes, bone, CG_FEET_Y - low, f == 0);
        Emit(weapon, gunBoxes, bone, CG_FEET_Y - low, f == 0);
    }
}

CgImage CgFigureTexture(CgFigure which)
{
    bool soldier = which == CG_SOLDIER;
    CgRng rng(soldier ? 61 : 62);
    std::vector<float> blots(48);
    for (float& v : blots)
        v = rng.Unit();
    CgImage img(128, 128);
    CgShade(img, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 128;
        CgColor c;
        if (v < 0.5f && u < 0.5f) {   // cloth
            if (soldier) {
                float a = std::sin(u * 37 + blots[0] * 6) + std::sin(v * 29 + u * 11 + blots[1] * 6) +
                          std::sin((u - v) * 23 + blots[2] * 6);
                c = a > 0.8f ? CgRgb(0x3C4A26) : a > -0.6f ? CgRgb(0x5E6B3A) : CgRgb(0x7A6E48);
            } else {
                c = CgRgb(0xE0482A);
                if (std::fabs(u - 0.25f) < 0.03f)
                    c = CgRgb(0xF8E8D0);   // a zip line
                if (std::fabs(v - 0.1f) < 0.025f)
                    c = CgRgb(0x30C8FF);   // a neon stripe
            }
        } else if (v < 0.5f) {   // trousers
            float a = std::sin(u * 41 + blots[3] * 6) + std::sin(v * 33 + blots[4] * 6);
            c = soldier ? (a > 0.5f ? CgRgb(0x38422A) : CgRgb(0x4E5A34)) : CgScale(CgRgb(0x3858A0), 0.85f + 0.15f * a);
        } else if (u < 0.5f) {   // skin and face
            c = CgRgb(0xD8A07A);
            float fu = (u - 0.02f) / 0.46f, fv = (v - 0.52f) / 0.46f;   // 0..1 over the face
            bool eye = std::fabs(fv - 0.42f) < 0.06f && (std::fabs(fu - 0.3f) < 0.07f || std::fabs(fu - 0.7f) < 0.07f);
            bool mouth = std::fabs(fv - 0.75f) < 0.03f && std::fabs(fu - 0.5f) < 0.16f;
            bool brow = std::fabs(fv - 0.32f) < 0.025f && (std::fabs(fu - 0.3f) < 0.1f || std::fabs(fu - 0.7f) < 0.1f);
            if (eye)
                c = CgRgb(0x202020);
            if (mouth || brow)
                c = CgRgb(0x6A3A2A);
            if (!soldier && fv < 0.12f)
                c = CgRgb(0x4A2E1A);   // fringe
            if (u > 0.39f && v < 0.61f)
                c = soldier ? CgRgb(0xC8926E) : CgRgb(0x4A2E1A);   // hair patch
        } else {   // gear: helmet, vest, gloves, boots
            c = soldier ? CgRgb(0x2E3424) : CgRgb(0xF0F0F0);
            if (!soldier && std::fabs(v - 0.8f) < 0.04f)
                c = CgRgb(0xE0482A);
            c = CgScale(c, 0.9f + 0.1f * std::sin(u * 60) * std::sin(v * 60));
        }
        // Baked light: a touch brighter toward the top of each region.
        float k = 1.05f - 0.15f * std::fmod(v * 2, 1.0f);
        p[0] = c.r * k, p[1] = c.g * k, p[2] = c.b * k;
    });
    CgClamp(img);
    return img;
}

CgImage CgWeaponTexture(CgFigure which)
{
    CgImage img(64, 64);
    CgShade(img, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 64, v = (y + 0.5f) / 64;
        CgColor c = which == CG_SOLDIER ? CgRgb(0x3A3C40) : CgRgb(0xB8C0D0);
        c = CgScale(c, 0.85f + 0.3f * (1 - v) * (0.8f + 0.2f * std::sin(u * 40)));
        if (which == CG_PLAYER && std::fabs(u - 0.5f) < 0.1f)
            c = CgRgb(0x30E8FF);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    CgClamp(img);
    return img;
}

void CgDrawFigure(CgImage& img, int x0, int y0, int size, float view, const O3dObject* const* objects,
                  const CgImage* const* textures, int count, uint32_t frame)
{
    std::vector<float> depth((size_t)size * size, -1e9f);
    const float k = size / view;
    const Vector3 light = {0.45f, 0.55f, 0.70f};
    for (int n = 0; n < count; n++) {
        const O3dObject& o = *objects[n];
        const CgImage& tex = *textures[n];
        const std::vector<Vector3>& v = o.Frames[frame].Vertices;
        for (const O3dFace& f : o.Faces) {
            Vector3 a = v[f.Vertex[0]], b = v[f.Vertex[1]], c = v[f.Vertex[2]];
            // Mirrored winding: the cross product points out.
            Vector3 e1 = {b.x - a.x, b.y - a.y, b.z - a.z}, e2 = {c.x - a.x, c.y - a.y, c.z - a.z};
            Vector3 nn = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
            float len = std::sqrt(nn.x * nn.x + nn.y * nn.y + nn.z * nn.z);
            if (len == 0 || nn.z <= 0)
                continue;
            float lit = 0.35f + 0.65f * std::max(0.0f, (nn.x * light.x + nn.y * light.y + nn.z * light.z) / len);
            float tu = (f.Map[0] + f.Map[2] + f.Map[4]) / 3, tv = (f.Map[1] + f.Map[3] + f.Map[5]) / 3;
            const float* t = tex.At(std::clamp((int)(tu * tex.W), 0, tex.W - 1), std::clamp((int)(tv * tex.H), 0, tex.H - 1));
            float sx[3], sy[3], sz[3];
            const Vector3* P[3] = {&a, &b, &c};
            for (int i = 0; i < 3; i++) {
                sx[i] = size * 0.5f + P[i]->x * k;
                sy[i] = size * 0.5f - P[i]->y * k;
                sz[i] = P[i]->z;
            }
            int bx0 = std::max(0, (int)std::floor(std::min({sx[0], sx[1], sx[2]})));
            int bx1 = std::min(size - 1, (int)std::ceil(std::max({sx[0], sx[1], sx[2]})));
            int by0 = std::max(0, (int)std::floor(std::min({sy[0], sy[1], sy[2]})));
            int by1 = std::min(size - 1, (int)std::ceil(std::max({sy[0], sy[1], sy[2]})));
            float area = (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
            if (area == 0)
                continue;
            for (int y = by0; y <= by1; y++)
                for (int x = bx0; x <= bx1; x++) {
                    float px = x + 0.5f, py = y + 0.5f;
                    float w0 = ((sx[1] - px) * (sy[2] - py) - (sx[2] - px) * (sy[1] - py)) / area;
                    float w1 = ((sx[2] - px) * (sy[0] - py) - (sx[0] - px) * (sy[2] - py)) / area;
                    float w2 = 1 - w0 - w1;
                    if (w0 < 0 || w1 < 0 || w2 < 0)
                        continue;
                    float z = w0 * sz[0] + w1 * sz[1] + w2 * sz[2];
                    float& d = depth[(size_t)y * size + x];
                    if (z <= d)
                        continue;
                    d = z;
                    int ix = x0 + x, iy = y0 + y;
                    if (ix < 0 || iy < 0 || ix >= img.W || iy >= img.H)
                        continue;
                    float* q = img.At(ix, iy);
                    q[0] = t[0] * lit, q[1] = t[1] * lit, q[2] = t[2] * lit;
                }
        }
    }
}
