// The asset groups, in the order they run and their files are packed. A new
// group is one source file group_*.cpp with its Names and Build routines
// (the build picks the file up), their declarations and one line here.
#include "content.h"

// Each group's file defines its two routines.
std::vector<std::string> CgScreenNames();
void CgBuildScreens(CgSink& out);
std::vector<std::string> CgTvNames();
void CgBuildTv(CgSink& out);
std::vector<std::string> CgHudNames();
void CgBuildHud(CgSink& out);
std::vector<std::string> CgLightNames();
void CgBuildLights(CgSink& out);
std::vector<std::string> CgSoundNames();
void CgBuildSounds(CgSink& out);
std::vector<std::string> CgMusicNames();
void CgBuildMusic(CgSink& out);
std::vector<std::string> CgSkyNames();
void CgBuildSky(CgSink& out);
std::vector<std::string> CgLevelNames();
void CgBuildLevelGroup(CgSink& out);
std::vector<std::string> CgExplosionNames();
void CgBuildExplosion(CgSink& out);
std::vector<std::string> CgSoldierNames();
void CgBuildSoldier(CgSink& out);
std::vector<std::string> CgPlayerNames();
void CgBuildPlayer(CgSink& out);

const CgGroup CG_GROUPS[] = {
    {"pictures: screens", CgScreenNames, CgBuildScreens},
    {"pictures: tv", CgTvNames, CgBuildTv},
    {"pictures: hud", CgHudNames, CgBuildHud},
    {"pictures: lights", CgLightNames, CgBuildLights},
    {"sounds", CgSoundNames, CgBuildSounds},
    {"music", CgMusicNames, CgBuildMusic},
    {"world: sky", CgSkyNames, CgBuildSky},
    {"world: level", CgLevelNames, CgBuildLevelGroup},
    {"world: explosion", CgExplosionNames, CgBuildExplosion},
    {"figures: soldier", CgSoldierNames, CgBuildSoldier},
    {"figures: player", CgPlayerNames, CgBuildPlayer},
};
const int CG_GROUP_COUNT = (int)(sizeof(CG_GROUPS) / sizeof(CG_GROUPS[0]));
