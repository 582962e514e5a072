// The kestrix program's usage text, shared by main and the sub-commands.
#pragma once
#include <string>

namespace kestrix::app {

extern const char* const kUsage;

// Prints "kestrix: <problem>" (when given) and the usage text on standard error; returns 2.
int UsageError(const std::string& problem = {});

}  // namespace kestrix::app
