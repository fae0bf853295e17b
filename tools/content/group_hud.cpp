#include "content.h"
std::vector<std::string> CgHudNames() { return {}; }
void CgBuildHud(CgSink&) {}
