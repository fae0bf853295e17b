// The soldier and the player: a rig of rigid boxes posed by keyframe
// functions of the frame number and written as per-frame vertex arrays,
// with the weapon on the right forearm so that it follows the hand frame by
// frame. Authored at 20 times the game's size (it scales by 0.05), facing
// +x, right side +z, the origin 1.2 above the feet (24 model units).
#ifndef ZQCONTENT_FIGURES_H
#define ZQCONTENT_FIGURES_H

#include "image.h"
#include "o3d.h"

enum CgFigure { CG_SOLDIER, CG_PLAYER };

// The game's frame ranges.
#define CG_IDLE_FIRST 0
#define CG_IDLE_LAST 39
#define CG_WALK_FIRST 40
#define CG_WALK_LAST 44      // 45 repeats 40: the game blends 44 toward 45
#define CG_SHOOT_FIRST 46
#define CG_SHOOT_LAST 53
#define CG_PLAYER_DEATH_FIRST 173
#define CG_PLAYER_DEATH_LAST 177
#define CG_SOLDIER_DEATH_FIRST 178
#define CG_SOLDIER_DEATH_LAST 183
#define CG_FEET_Y -24.0f     // model units below the origin

// Each box is 24 vertices (4 per side) in build order; these name the
// right hand's box in the body and the grip's box in the weapon.
#define CG_BOX_VERTICES 24
#define CG_HAND_BOX 9
#define CG_GRIP_BOX 0

int CgFigureFrames(CgFigure which);
void CgBuildFigure(CgFigure which, O3dObject* body, O3dObject* weapon);
// The figure's texture atlas and the weapon's texture.
CgImage CgFigureTexture(CgFigure which);
CgImage CgWeaponTexture(CgFigure which);

// Draws a frame of objects seen from the figure's right (+z), lit from the
// front, fitted into `view` model units round the origin.
void CgDrawFigure(CgImage& img, int x0, int y0, int size, float view, const O3dObject* const* objects,
                  const CgImage* const* textures, int count, uint32_t frame);

#endif
