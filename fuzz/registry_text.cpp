// libFuzzer target: arbitrary bytes as the text of a registry file. Text that parses must
// format to a text that parses again, and that second text must be a fixed point: what
// the registry writes always reads back as written. Build with the "fuzz" preset; see the
// README.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/Registry.h"

using namespace kestrix::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        SetLogSink([](LogLevel, const std::string&) {});
        return true;
    }();
    (void)quiet;

    const std::string text(reinterpret_cast<const char*>(data), size);
    RegistryData first;
    std::string error;
    std::vector<std::string> warnings;
    if (!ParseRegistryText(text, first, error, &warnings)) {
        if (error.rfind("line ", 0) != 0) std::abort();  // every refusal names its line
        return 0;
    }
    // Control characters become spaces when written, so two names may become one: the
    // first round may merge, the second must not change anything.
    const std::string written = FormatRegistryText(first);
    RegistryData second;
    if (!ParseRegistryText(written, second, error)) std::abort();
    const std::string again = FormatRegistryText(second);
    RegistryData third;
    warnings.clear();
    if (!ParseRegistryText(again, third, error, &warnings) || !warnings.empty()) std::abort();
    if (FormatRegistryText(third) != again) std::abort();
    return 0;
}
