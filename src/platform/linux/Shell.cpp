#include "platform/Shell.h"

#include <atomic>

#include "platform/Log.h"

namespace kestrix::platform {

namespace {
std::atomic<ShellHost*> gHost{nullptr};
}

int SafeMessageBoxAnswer(uint32_t flags) {
    switch (flags & 0xF) {
        case MB_OKCANCEL: return IDCANCEL;
        case 0x3: return IDCANCEL;  // yes/no/cancel
        case MB_YESNO: return IDNO;
        case 0x5: return IDCANCEL;  // retry/cancel
        default: return IDOK;
    }
}

void SetShellHost(ShellHost* host) { gHost.store(host); }
ShellHost* GetShellHost() { return gHost.load(); }

int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption, uint32_t flags) {
    if (ShellHost* host = GetShellHost()) return host->MessageBox(owner, text, caption, flags);
    int answer = SafeMessageBoxAnswer(flags);
    LogWarning("message box without a shell, answered " + std::to_string(answer) + ": " + caption + ": " + text);
    return answer;
}

bool ShellExecuteOpen(const std::string& url) {
    if (ShellHost* host = GetShellHost()) return host->OpenLink(url);
    LogWarning("cannot open " + url + ": no shell");
    return false;
}

}  // namespace kestrix::platform
