// Windows has no XDG desktop session: the command's desktop features report
// that nothing is there.
#include "platform/desktop_session.h"

std::string XdgBaseFolder(const char*, const char*) { return {}; }
std::vector<std::string> XdgDataDirs() { return {}; }
bool DesktopSessionWithoutTerminal() { return false; }
std::string FindOnPath(const std::string&) { return {}; }
std::string OwnExecutablePath() { return {}; }
int RunProgram(const std::string&, const std::vector<std::string>&, std::string*) { return -1; }
