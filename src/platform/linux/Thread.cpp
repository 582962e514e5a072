#include "platform/Thread.h"

#include <system_error>

#include <pthread.h>

#include "platform/LastError.h"
#include "platform/Log.h"

namespace kestrix::platform {

Thread::Thread() : ended_(std::make_unique<Event>(true)) {}

Thread::~Thread() {
    if (thread_.joinable()) Join(-1);
}

bool Thread::Start(std::function<void()> body, std::string name) {
    if (thread_.joinable()) return false;
    ended_->Reset();
    Event* ended = ended_.get();
    std::atomic<std::thread::id>* id = &id_;
    try {
        thread_ = std::thread([ended, id, body = std::move(body), name = std::move(name)] {
            id->store(std::this_thread::get_id());
            if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
            try {
                body();
            } catch (const std::exception& e) {
                LogError("thread " + name + " ended by an exception: " + e.what());
            } catch (...) {
                LogError("thread " + name + " ended by an exception");
            }
            ended->Set();
        });
    } catch (const std::system_error& e) {
        SetLastError(e.code().value());
        return false;
    }
    return true;
}

bool Thread::Join(int timeoutMs) {
    if (IsCurrent()) return false;
    if (!thread_.joinable()) return true;
    // Through WaitAny, so a loop thread keeps answering messages the worker sends it.
    if (!ended_->Wait(timeoutMs)) return false;
    thread_.join();
    id_.store(std::thread::id{});
    return true;
}

bool Thread::IsCurrent() const { return id_.load() == std::this_thread::get_id(); }

}  // namespace kestrix::platform
