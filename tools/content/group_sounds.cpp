#include "content.h"
std::vector<std::string> CgSoundNames() { return {}; }
void CgBuildSounds(CgSink&) {}
