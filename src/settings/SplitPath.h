// Takes a narrow path apart into drive, directory, file name and extension so that their
// concatenation is the input. '\' and '/' are both separators.
//   drive: up to and including a ':' that comes before any separator;
//   dir:   up to and including the last separator;
//   name:  the last component up to its last '.';
//   ext:   from that '.' to the end.
// Pass nullptr for a part that is not wanted.
#pragma once
#include <string>

namespace kestrix {

void SplitPath(const std::string& path, std::string* drive, std::string* dir, std::string* name,
               std::string* ext);

}  // namespace kestrix
