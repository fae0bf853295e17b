// The asset groups, in the order they run and their files are packed. A new
// group is one source file with its Names and Build routines, and one line
// here.
#include "content.h"

const CgGroup CG_GROUPS[] = {
    {"pictures: screens", CgScreenNames, CgBuildScreens},
    {"pictures: tv", CgTvNames, CgBuildTv},
    {"pictures: hud", CgHudNames, CgBuildHud},
    {"pictures: lights", CgLightNames, CgBuildLights},
    {"sounds", CgSoundNames, CgBuildSounds},
    {"music", CgMusicNames, CgBuildMusic},
};
const int CG_GROUP_COUNT = (int)(sizeof(CG_GROUPS) / sizeof(CG_GROUPS[0]));
