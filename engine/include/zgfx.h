// CZGfx: screen-space rectangles ("2D planes") for backgrounds, icons,
// overlays and fades, drawn through the renderer as pre-transformed
// triangles; lines from point lists; palette conversions for 8-bit images.
// A plane is three 2D plane objects of CZO3d: an untouched 1 x 1 source, a
// scaled work copy and the drawn copy. Positions and sizes are pixels.
#ifndef ZARQUEL_ZGFX_H
#define ZARQUEL_ZGFX_H

#include <cstdint>

#include "zapi.h"
#include "ztypes.h"

class CZMem;
class CZH3d;
class CZMth;
class CZO3d;

// A plane; its address is the plane handle.
struct ZGFX_PLANE {
    uint32_t Source;        // 1 x 1 plane object made at creation, holds the material
    uint32_t Scaled;        // work copy after scaling
    uint32_t Drawn;         // work copy after rotation and placement; the one drawn
    uint32_t Texture;       // 0 at creation
    uint32_t Texture2;
    uint32_t Flags;
    uint32_t Angle;         // index into the math module's sine and cosine tables
    float X, Y;             // placement given at creation
    float OffsetX, OffsetY; // MovePlane2d
    float Width, Height;    // creation size (kept, not read again)
    float ScaleX, ScaleY;   // ScalePlane2d, 1 at creation
    float BaseWidth, BaseHeight;   // creation size, used for drawing
};
static_assert(sizeof(ZGFX_PLANE) == 17 * 4, "plane record is 17 words");

class ZQAPI CZGfx {
public:
    CZGfx();

    void Init();

    unsigned long CreatePlane2d(float width, float height, float x, float y, float depth);
    // Nothing happens when `texture` is the plane's texture already.
    void SetMaterialPlane2d(unsigned long plane, unsigned long texture, unsigned long flags);
    void SetMaterialPlane2d(unsigned long plane, unsigned long texture, unsigned long texture2, unsigned long flags);
    void MovePlane2d(unsigned long plane, float x, float y);
    void ScalePlane2d(unsigned long plane, float sx, float sy);
    void RotatePlane2d(unsigned long plane, unsigned long angle);
    void ModifyMappingPlane2d(unsigned long plane, float u, float v);
    void SetMappingPlane2d(unsigned long plane, float ua, float va, float ub, float vb);
    void DrawPlane2d(unsigned long plane, bool move, bool rotate, bool scale);
    void DestroyPlane2d(unsigned long plane);

    void DrawLinesColor(Vector3* points, unsigned long count, unsigned long flags, unsigned long colour0,
                        unsigned long colour1);
    void DrawLinesText(Vector3* points, unsigned long count, unsigned long flags, unsigned long texture);

    // 256 VGA entries (three 6-bit bytes) become 256 R5G6B5 words, in place.
    void ConvertPalette(void* palette);
    // count 8-bit indices through a 256-word palette into 16-bit pixels.
    void ConvertData(void* source, void* palette, void* destination, unsigned long count);

    CZMem* Mem;
    CZH3d* H3d;
    CZMth* Mth;
    CZO3d* O3d;

private:
    void Move2dPlane(unsigned long object, float dx, float dy);
    void Scale2dPlane(unsigned long object, float sy, float sx);
    void Rotate2dPlane(unsigned long fromObject, unsigned long toObject, unsigned long angle);
    void GFX_DrawLines(Vector3* points, unsigned long count, uint32_t kind, unsigned long flags, unsigned long texture,
                       unsigned long colour0, unsigned long colour1);
};

#endif
