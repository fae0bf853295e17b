#include "content.h"
std::vector<std::string> CgLightNames() { return {}; }
void CgBuildLights(CgSink&) {}
