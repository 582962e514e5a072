// Test helper: a loopback listener whose accept queue is full. The system then drops
// further connection requests, so a connect to it hangs until its time limit, as one to
// an unreachable host does.
#pragma once
#include <vector>

#include "platform/Socket.h"

namespace kestrix::test {

struct FullListener {
    platform::TcpListener listener;
    std::vector<platform::Socket> queued;
    // False when this system does not let the queue fill.
    bool Fill() {
        if (listener.Listen("127.0.0.1", 0, 0) != 0) return false;
        for (int i = 0; i < 64; ++i) {
            platform::Socket s;
            const int err = s.Connect("127.0.0.1", listener.Port(), 300, nullptr);
            if (err == platform::kSocketTimedOut) return true;
            if (err != 0) return false;
            queued.push_back(std::move(s));
        }
        return false;
    }
};

}  // namespace kestrix::test
