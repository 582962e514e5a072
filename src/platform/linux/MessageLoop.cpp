#include "platform/MessageLoop.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/Event.h"
#include "platform/Log.h"
#include "platform/linux/WindowInternal.h"
#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

struct SentItem {
    WindowHandle window = kNoWindow;
    uint32_t msg = 0;
    WParam w = 0;
    LParam l = 0;
    std::function<void()> task;
    LResult result = 0;
    // Set once handled or abandoned; the sender waits on it through WaitAny so that a
    // sender which runs a loop of its own keeps answering messages sent to it.
    Event done{true};
};

struct PostedItem {
    WindowHandle window = kNoWindow;
    uint32_t msg = 0;
    WParam w = 0;
    LParam l = 0;
    std::function<void()> task;
    // Frees what the message carries when no procedure gets it.
    std::function<void()> release;
};

void SignalFd(int fd) {
    uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void DrainFd(int fd) {
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

}  // namespace

namespace internal {

// The part of a loop that other threads touch. It is shared so that a thread holding it
// (a sender, a clock's wake listener) never writes to a descriptor that was closed and
// reused: the descriptors close only when the last holder lets go.
struct LoopCore {
    LoopCore() : wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), sentFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~LoopCore() {
        if (wakeFd >= 0) ::close(wakeFd);
        if (sentFd >= 0) ::close(sentFd);
    }
    void Wake() { SignalFd(wakeFd); }
    // Completes every waiting sender with 0. Called with the mutex held.
    void ReleaseSendersLocked() {
        for (auto& item : sent) item->done.Set();
        sent.clear();
        DrainFd(sentFd);
    }

    std::mutex mutex;
    MessageLoop* loop = nullptr;
    std::thread::id thread;
    int wakeFd;
    int sentFd;
    bool alive = true;
    bool quit = false;
    int quitCode = 0;
    std::deque<PostedItem> posted;
    std::deque<std::shared_ptr<SentItem>> sent;
    std::vector<WindowHandle> paints;
    // Loop thread only.
    std::map<std::string, std::shared_ptr<const ClassInfo>> classes;
};

}  // namespace internal

namespace {

using internal::LoopCore;
using internal::WindowData;

struct WindowTable {
    std::mutex mutex;
    std::unordered_map<WindowHandle, std::shared_ptr<WindowData>> windows;
    WindowHandle next = 1;
    uint64_t serial = 0;
};

WindowTable& Windows() {
    static WindowTable* table = new WindowTable;  // outlives every static loop
    return *table;
}

std::shared_ptr<LoopCore> CoreOf(WindowHandle window) {
    auto data = internal::LookUp(window);
    return data ? data->core : nullptr;
}

std::shared_ptr<const WndProc> ProcOf(WindowHandle window, const LoopCore* core) {
    auto data = internal::LookUp(window);
    if (!data || data->core.get() != core) return nullptr;
    return data->proc;
}

thread_local MessageLoop* tCurrent = nullptr;
thread_local std::shared_ptr<LoopCore> tCurrentCore;

// Queues the item; on failure it is left to the caller untouched.
bool PostTo(const std::shared_ptr<LoopCore>& core, PostedItem&& item) {
    if (!core) return false;
    {
        std::lock_guard lock(core->mutex);
        if (!core->alive) return false;
        core->posted.push_back(std::move(item));
    }
    core->Wake();
    return true;
}

// Queues a sent message or task and blocks until the loop thread handled it.
LResult SendTo(const std::shared_ptr<LoopCore>& core, std::shared_ptr<SentItem> item) {
    {
        std::lock_guard lock(core->mutex);
        if (!core->alive || core->quit) return 0;
        if (core->sent.empty()) SignalFd(core->sentFd);
        core->sent.push_back(item);
    }
    core->Wake();
    item->done.Wait(-1);
    // The result was written before done was set; the event's lock orders the two.
    return item->result;
}

using internal::CallProc;

}  // namespace

struct MessageLoop::Impl {
    struct Timer {
        uint32_t periodMs;
        uint64_t due;
        std::shared_ptr<TimerProc> proc;
    };

    Clock* clock = nullptr;
    std::shared_ptr<LoopCore> core;
    MessageLoop* previous = nullptr;
    std::shared_ptr<LoopCore> previousCore;
    std::map<uint32_t, Timer> timers;
    uint32_t nextTimer = 1;

    size_t HandleSent();
    size_t HandlePosted();
    size_t HandleTimers();
    size_t HandlePaints();
    size_t RunPending();
    // Sleeps until something arrives, the next timer is due, or maxMs of real time passed
    // (maxMs < 0: no bound besides the timers).
    void WaitForWork(int64_t maxMs);
};

size_t MessageLoop::Impl::HandleSent() {
    size_t handled = 0;
    for (;;) {
        std::shared_ptr<SentItem> item;
        {
            std::lock_guard lock(core->mutex);
            if (core->sent.empty()) break;
            item = core->sent.front();
            core->sent.pop_front();
            if (core->sent.empty()) DrainFd(core->sentFd);
        }
        if (item->task) {
            item->task();
        } else {
            item->result = CallProc(ProcOf(item->window, core.get()), item->window, item->msg, item->w, item->l);
        }
        item->done.Set();
        ++handled;
    }
    return handled;
}

size_t MessageLoop::Impl::HandlePosted() {
    // Only what was queued on entry: a handler that posts again is served on the next round.
    size_t count;
    {
        std::lock_guard lock(core->mutex);
        count = core->posted.size();
    }
    size_t handled = 0;
    for (; handled < count; ++handled) {
        PostedItem item;
        {
            std::lock_guard lock(core->mutex);
            if (core->posted.empty()) break;
            item = std::move(core->posted.front());
            core->posted.pop_front();
        }
        if (item.task) {
            item.task();
        } else if (auto proc = ProcOf(item.window, core.get())) {
            CallProc(proc, item.window, item.msg, item.w, item.l);
        } else if (item.release) {
            item.release();  // the window went before the message's turn
        }
    }
    return handled;
}

size_t MessageLoop::Impl::HandleTimers() {
    uint64_t now = clock->MonotonicMs();
    std::vector<uint32_t> due;
    for (auto& [id, t] : timers)
        if (t.due <= now) due.push_back(id);
    size_t fired = 0;
    for (uint32_t id : due) {
        auto it = timers.find(id);
        if (it == timers.end()) continue;  // killed by an earlier timer's procedure
        // One call however many periods passed: a late timer fires once, not once per period.
        it->second.due = clock->MonotonicMs() + it->second.periodMs;
        auto proc = it->second.proc;
        if (proc && *proc) (*proc)(id);
        ++fired;
    }
    return fired;
}

size_t MessageLoop::Impl::HandlePaints() {
    std::vector<WindowHandle> paints;
    {
        std::lock_guard lock(core->mutex);
        paints.swap(core->paints);
    }
    for (WindowHandle w : paints) CallProc(ProcOf(w, core.get()), w, WM_PAINT, 0, 0);
    return paints.size();
}

size_t MessageLoop::Impl::RunPending() {
    DrainFd(core->wakeFd);
    size_t total = HandleSent() + HandlePosted() + HandleTimers() + HandlePaints();
    // Work that the handlers queued is ready now too; timers fire once per call.
    for (int round = 0; round < 1000; ++round) {
        {
            std::lock_guard lock(core->mutex);
            if (core->quit) break;
        }
        size_t n = HandleSent() + HandlePosted() + HandlePaints();
        if (n == 0) break;
        total += n;
    }
    return total;
}

void MessageLoop::Impl::WaitForWork(int64_t maxMs) {
    int64_t wait = maxMs;
    if (!timers.empty()) {
        uint64_t now = clock->MonotonicMs();
        uint64_t next = UINT64_MAX;
        for (auto& [id, t] : timers) next = std::min(next, t.due);
        int64_t untilTimer = next <= now ? 0 : static_cast<int64_t>(std::min<uint64_t>(next - now, 24 * 3600 * 1000));
        wait = wait < 0 ? untilTimer : std::min(wait, untilTimer);
    }
    {
        std::lock_guard lock(core->mutex);
        if (core->quit || !core->posted.empty() || !core->sent.empty() || !core->paints.empty()) return;
    }
    pollfd fds[2] = {{core->wakeFd, POLLIN, 0}, {core->sentFd, POLLIN, 0}};
    ::poll(fds, 2, wait < 0 ? -1 : static_cast<int>(wait));
}

MessageLoop::MessageLoop(Clock& clock) : impl_(std::make_unique<Impl>()) {
    impl_->clock = &clock;
    impl_->core = std::make_shared<LoopCore>();
    impl_->core->loop = this;
    impl_->core->thread = std::this_thread::get_id();
    impl_->previous = tCurrent;
    impl_->previousCore = tCurrentCore;
    tCurrent = this;
    tCurrentCore = impl_->core;
    // A stepped clock wakes the loop so due timers are seen; the listener holds the loop
    // weakly and so outlives it harmlessly.
    std::weak_ptr<LoopCore> weak = impl_->core;
    clock.AddWakeListener([weak] {
        if (auto core = weak.lock()) core->Wake();
    });
}

MessageLoop::~MessageLoop() {
    std::deque<PostedItem> unhandled;
    {
        std::lock_guard lock(impl_->core->mutex);
        impl_->core->alive = false;
        unhandled.swap(impl_->core->posted);
        impl_->core->paints.clear();
        impl_->core->ReleaseSendersLocked();
    }
    // Outside the lock: a release may post (and fail) or take locks of its own.
    for (PostedItem& item : unhandled) {
        if (item.release) item.release();
    }
    // The loop's windows go without WM_DESTROY: nothing runs their procedures any more.
    std::vector<WindowHandle> gone;
    {
        auto& t = Windows();
        std::lock_guard lock(t.mutex);
        for (auto it = t.windows.begin(); it != t.windows.end();) {
            if (it->second->core == impl_->core) {
                gone.push_back(it->first);
                it = t.windows.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (WindowHandle w : gone) internal::ForgetWindowPainting(w);
    impl_->core->classes.clear();
    if (tCurrent == this) {
        tCurrent = impl_->previous;
        tCurrentCore = impl_->previousCore;
    }
}

MessageLoop* MessageLoop::Current() { return tCurrent; }

bool MessageLoop::IsLoopThread() const { return std::this_thread::get_id() == impl_->core->thread; }

Clock& MessageLoop::GetClock() const { return *impl_->clock; }

bool MessageLoop::RegisterClass(const std::string& className, WndProc proc) {
    if (className.empty() || !proc || !IsLoopThread()) return false;
    auto cls = std::make_shared<internal::ClassInfo>();
    cls->name = className;
    cls->proc = MakeWndProc(std::move(proc));
    return impl_->core->classes.emplace(className, std::move(cls)).second;
}

bool MessageLoop::UnregisterClass(const std::string& className) {
    return IsLoopThread() && impl_->core->classes.erase(className) > 0;
}

WindowHandle MessageLoop::CreateWindow(const std::string& className, const std::string& title) {
    if (!IsLoopThread()) return kNoWindow;
    auto cls = impl_->core->classes.find(className);
    if (cls == impl_->core->classes.end()) return kNoWindow;
    auto data = internal::NewWindow(cls->second);
    if (!data) return kNoWindow;
    data->text = title;
    NotifyWindowChanged();
    return data->handle;
}

bool MessageLoop::DestroyWindow(WindowHandle window) {
    auto core = CoreOf(window);
    if (core != impl_->core) return false;
    if (IsLoopThread()) return internal::DestroyWindowTree(window);
    bool destroyed = false;
    SendTask([&] { destroyed = internal::DestroyWindowTree(window); });
    return destroyed;
}

bool MessageLoop::Post(WindowHandle window, uint32_t msg, WParam w, LParam l) { return PostMessage(window, msg, w, l); }

LResult MessageLoop::Send(WindowHandle window, uint32_t msg, WParam w, LParam l) { return SendMessage(window, msg, w, l); }

void MessageLoop::PostTask(std::function<void()> fn) {
    PostedItem item;
    item.task = std::move(fn);
    PostTo(impl_->core, std::move(item));
}

void MessageLoop::SendTask(const std::function<void()>& fn) {
    if (IsLoopThread()) {
        fn();
        return;
    }
    auto item = std::make_shared<SentItem>();
    item->task = fn;
    SendTo(impl_->core, item);
}

void MessageLoop::Invalidate(WindowHandle window) { InvalidateWindow(window); }

uint32_t MessageLoop::SetTimer(uint32_t periodMs, TimerProc proc) {
    uint32_t id = impl_->nextTimer++;
    while (id == 0 || impl_->timers.count(id)) id = impl_->nextTimer++;
    uint32_t period = std::max<uint32_t>(periodMs, 1);
    impl_->timers[id] = Impl::Timer{period, impl_->clock->MonotonicMs() + period,
                                    std::make_shared<TimerProc>(std::move(proc))};
    return id;
}

bool MessageLoop::KillTimer(uint32_t timerId) { return impl_->timers.erase(timerId) > 0; }

int MessageLoop::Run() {
    for (;;) {
        {
            std::lock_guard lock(impl_->core->mutex);
            if (impl_->core->quit) {
                // Taken like WM_QUIT: a later Run or modal pump works again.
                impl_->core->quit = false;
                return impl_->core->quitCode;
            }
        }
        impl_->RunPending();
        impl_->WaitForWork(-1);
    }
}

void MessageLoop::Quit(int code) {
    {
        std::lock_guard lock(impl_->core->mutex);
        impl_->core->quit = true;
        impl_->core->quitCode = code;
        impl_->core->ReleaseSendersLocked();
    }
    impl_->core->Wake();
}

bool MessageLoop::QuitRequested() const {
    std::lock_guard lock(impl_->core->mutex);
    return impl_->core->quit;
}

size_t MessageLoop::RunPending() { return impl_->RunPending(); }

bool MessageLoop::PumpUntil(const std::function<bool()>& done, int64_t timeoutMs) {
    const uint64_t start = impl_->clock->MonotonicMs();
    for (;;) {
        if (done()) return true;
        if (QuitRequested()) return false;
        uint64_t elapsed = impl_->clock->MonotonicMs() - start;
        if (timeoutMs >= 0 && elapsed >= static_cast<uint64_t>(timeoutMs)) return false;
        impl_->RunPending();
        if (done()) return true;
        // Bounded in real time too, so a condition changed without a post is still seen.
        int64_t wait = 100;
        if (timeoutMs >= 0) {
            elapsed = impl_->clock->MonotonicMs() - start;
            int64_t left = elapsed >= static_cast<uint64_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int64_t>(elapsed);
            wait = std::min(wait, left);
        }
        impl_->WaitForWork(wait);
    }
}

size_t MessageLoop::ProcessSentMessages() {
    if (!IsLoopThread()) return 0;
    return impl_->HandleSent();
}

int MessageLoop::SentMessageFd() const { return impl_->core->sentFd; }

MessageLoop* MessageLoop::OwnerOf(WindowHandle window) {
    auto core = CoreOf(window);
    return core ? core->loop : nullptr;
}

uint32_t RegisterWindowMessage(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, uint32_t> ids;
    static uint32_t next = 0xC000;
    if (name.empty()) return 0;
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    std::lock_guard lock(mutex);
    auto it = ids.find(key);
    if (it != ids.end()) return it->second;
    if (next > 0xFFFF) return 0;
    ids[key] = next;
    return next++;
}

bool PostMessage(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    return PostTo(CoreOf(window), PostedItem{window, msg, w, l, {}, {}});
}

bool PostMessageWithRelease(WindowHandle window, uint32_t msg, WParam w, LParam l, std::function<void()> release) {
    PostedItem item{window, msg, w, l, {}, std::move(release)};
    if (PostTo(CoreOf(window), std::move(item))) return true;
    if (item.release) item.release();
    return false;
}

LResult SendMessage(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    auto core = CoreOf(window);
    if (!core) return 0;
    if (core->thread == std::this_thread::get_id()) return CallProc(ProcOf(window, core.get()), window, msg, w, l);
    auto item = std::make_shared<SentItem>();
    item->window = window;
    item->msg = msg;
    item->w = w;
    item->l = l;
    return SendTo(core, item);
}

bool IsWindow(WindowHandle window) { return window != kNoWindow && CoreOf(window) != nullptr; }

void InvalidateWindow(WindowHandle window) { internal::Invalidate(window, false); }

namespace internal {

std::shared_ptr<WindowData> LookUp(WindowHandle window) {
    if (window == kNoWindow) return nullptr;
    auto& t = Windows();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(window);
    return it == t.windows.end() ? nullptr : it->second;
}

std::shared_ptr<WindowData> Own(WindowHandle window) {
    auto data = LookUp(window);
    return data && data->thread == std::this_thread::get_id() ? data : nullptr;
}

std::vector<std::shared_ptr<WindowData>> OwnWindows() {
    std::vector<std::shared_ptr<WindowData>> out;
    {
        auto& t = Windows();
        std::lock_guard lock(t.mutex);
        const auto self = std::this_thread::get_id();
        for (const auto& [handle, data] : t.windows)
            if (data->thread == self) out.push_back(data);
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a->serial < b->serial; });
    return out;
}

std::shared_ptr<WindowData> NewWindow(std::shared_ptr<const ClassInfo> cls) {
    if (!tCurrentCore || !cls) return nullptr;
    auto data = std::make_shared<WindowData>();
    data->core = tCurrentCore;
    data->thread = std::this_thread::get_id();
    data->proc = cls->proc;
    data->cls = std::move(cls);
    auto& t = Windows();
    std::lock_guard lock(t.mutex);
    WindowHandle h = t.next;
    while (h == kNoWindow || t.windows.count(h)) ++h;
    t.next = h + 1;
    data->handle = h;
    data->serial = ++t.serial;
    t.windows[h] = data;
    return data;
}

void RemoveWindow(WindowHandle window) {
    std::shared_ptr<WindowData> data;
    {
        auto& t = Windows();
        std::lock_guard lock(t.mutex);
        auto it = t.windows.find(window);
        if (it == t.windows.end()) return;
        data = std::move(it->second);
        t.windows.erase(it);
    }
    std::lock_guard lock(data->core->mutex);
    std::erase(data->core->paints, window);
}

bool AddClass(const ClassInfo& cls) {
    if (!tCurrentCore || cls.name.empty() || !cls.proc) return false;
    return tCurrentCore->classes.emplace(cls.name, std::make_shared<const ClassInfo>(cls)).second;
}

bool RemoveClass(const std::string& name) { return tCurrentCore && tCurrentCore->classes.erase(name) > 0; }

std::shared_ptr<const ClassInfo> FindClass(const std::string& name) {
    if (tCurrentCore) {
        auto it = tCurrentCore->classes.find(name);
        if (it != tCurrentCore->classes.end()) return it->second;
    }
    return BuiltinClass(name);
}

bool Invalidate(WindowHandle window, bool erase) {
    auto data = LookUp(window);
    if (!data) return false;
    auto& core = data->core;
    {
        std::lock_guard lock(core->mutex);
        if (!core->alive) return false;
        data->erasePending = data->erasePending || erase;
        if (std::find(core->paints.begin(), core->paints.end(), window) != core->paints.end()) return true;
        core->paints.push_back(window);
    }
    core->Wake();
    return true;
}

bool PaintNow(WindowHandle window) {
    auto data = Own(window);
    if (!data) return false;
    bool pending = false;
    {
        std::lock_guard lock(data->core->mutex);
        pending = std::erase(data->core->paints, window) > 0;
    }
    if (pending) CallProc(data->proc, window, WM_PAINT, 0, 0);
    return true;
}

void Validate(WindowHandle window) {
    auto data = Own(window);
    if (!data) return;
    std::lock_guard lock(data->core->mutex);
    data->erasePending = false;
    std::erase(data->core->paints, window);
}

bool TakeEraseRequest(WindowHandle window) {
    auto data = Own(window);
    if (!data) return false;
    std::lock_guard lock(data->core->mutex);
    const bool erase = data->erasePending;
    data->erasePending = false;
    std::erase(data->core->paints, window);
    return erase;
}

LResult CallProc(const WndProcRef& proc, WindowHandle window, uint32_t msg, WParam w, LParam l) {
    if (!proc || !*proc) return 0;
    return (*proc)(window, msg, w, l);
}

}  // namespace internal

}  // namespace kestrix::platform
