// A loop on the test thread with a stepped clock and a window class "probe" whose
// procedure records every message, then gives it to onMessage (0: DefWindowProc).
#pragma once
#include <vector>

#include "platform/Controls.h"
#include "platform/MessageLoop.h"

namespace kestrix::test {

struct Message {
    platform::WindowHandle window;
    uint32_t msg;
    platform::WParam w;
    platform::LParam l;
    bool operator==(const Message&) const = default;
};

struct WindowFixture {
    platform::ManualClock clock{1000};
    platform::MessageLoop loop{clock};
    std::vector<Message> log;
    platform::WndProc onMessage;

    WindowFixture() {
        platform::RegisterWindowClass({"probe", 0, [this](platform::WindowHandle h, uint32_t m, platform::WParam w,
                                                          platform::LParam l) {
                                           log.push_back({h, m, w, l});
                                           const platform::LResult r = onMessage ? onMessage(h, m, w, l) : 0;
                                           return r ? r : platform::DefWindowProc(h, m, w, l);
                                       }});
    }
    platform::WindowHandle Make(platform::WindowHandle parent = 0, int id = 0, const char* cls = "probe",
                                uint32_t style = 0, platform::Rect rect = {}) {
        style |= platform::WS_VISIBLE | (parent ? platform::WS_CHILD : 0);
        return platform::CreateWindowEx({cls, "", style, parent, id, rect, 0});
    }
};

}  // namespace kestrix::test
