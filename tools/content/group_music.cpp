#include "content.h"
std::vector<std::string> CgMusicNames() { return {}; }
void CgBuildMusic(CgSink&) {}
