// Where kestrix keeps its data: --data-dir, else $XDG_DATA_HOME/kestrix, else
// ~/.local/share/kestrix. The folder holds registry.reg and, unless --root says otherwise,
// is the device's root folder (the track log lives there).
#pragma once
#include <string>

namespace kestrix::app {

std::string DefaultDataDir();
// Creates the folder (and its parents) when missing. False with a message.
bool EnsureDirectory(const std::string& dir, std::string& error);
std::string RegistryFileIn(const std::string& dataDir);

}  // namespace kestrix::app
