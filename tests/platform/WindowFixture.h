// A loop on the test thread with a stepped clock and a window class "probe" whose
// procedure records every message (then gives it to onMessage, else DefWindowProc).
#pragma once
#include <functional>
#include <vector>

#include "platform/Clock.h"
#include "platform/Controls.h"
#include "platform/MessageLoop.h"
#include "platform/Window.h"

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
    std::function<platform::LResult(platform::WindowHandle, uint32_t, platform::WParam, platform::LParam)> onMessage;

    WindowFixture() {
        platform::RegisterWindowClass({"probe", 0, [this](platform::WindowHandle h, uint32_t m, platform::WParam w,
                                                          platform::LParam l) { return Record(h, m, w, l); }});
    }
    platform::LResult Record(platform::WindowHandle h, uint32_t m, platform::WParam w, platform::LParam l) {
        log.push_back({h, m, w, l});
        if (onMessage) {
            if (platform::LResult r = onMessage(h, m, w, l)) return r;
        }
        return platform::DefWindowProc(h, m, w, l);
    }
    platform::WindowHandle Make(platform::WindowHandle parent = platform::kNoWindow, int id = 0,
                                const char* cls = "probe", uint32_t style = 0, platform::Rect rect = {}) {
        platform::CreateWindowParams p;
        p.className = cls;
        p.parent = parent;
        p.id = id;
        p.style = style | platform::WS_VISIBLE | (parent ? platform::WS_CHILD : 0);
        p.rect = rect;
        return platform::CreateWindowEx(p);
    }
    // The messages of one kind, in order, with their targets.
    std::vector<Message> Only(uint32_t msg) const {
        std::vector<Message> out;
        for (const auto& m : log)
            if (m.msg == msg) out.push_back(m);
        return out;
    }
};

}  // namespace kestrix::test
