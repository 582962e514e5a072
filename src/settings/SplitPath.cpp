#include "settings/SplitPath.h"

namespace kestrix {

void SplitPath(const std::string& path, std::string* drive, std::string* dir, std::string* name,
               std::string* ext) {
    if (drive) drive->clear();
    if (dir) dir->clear();
    if (name) name->clear();
    if (ext) ext->clear();

    const size_t firstSep = path.find_first_of("\\/");
    const size_t colon = path.find(':');
    size_t driveEnd = 0;
    if (colon != std::string::npos && (firstSep == std::string::npos || colon < firstSep)) driveEnd = colon + 1;

    const size_t lastSep = path.find_last_of("\\/");
    const size_t dirEnd = (lastSep == std::string::npos || lastSep < driveEnd) ? driveEnd : lastSep + 1;

    const size_t dot = path.rfind('.');
    const size_t nameEnd = (dot == std::string::npos || dot < dirEnd) ? path.size() : dot;

    if (drive) *drive = path.substr(0, driveEnd);
    if (dir) *dir = path.substr(driveEnd, dirEnd - driveEnd);
    if (name) *name = path.substr(dirEnd, nameEnd - dirEnd);
    if (ext) *ext = path.substr(nameEnd);
}

}  // namespace kestrix
