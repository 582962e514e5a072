#include "shell/ShellHostImpl.h"

#include <algorithm>

#include "platform/Log.h"
#include "platform/Window.h"

namespace kestrix::shell {

namespace {

bool SameKey(const platform::Notification& n, const std::string& clsid, uint32_t id) {
    return n.id == id && n.clsid == clsid;
}

const char* ButtonLabel(int id) {
    switch (id) {
    case platform::IDOK: return "OK";
    case platform::IDCANCEL: return "Cancel";
    case 3: return "Abort";
    case 4: return "Retry";
    case 5: return "Ignore";
    case platform::IDYES: return "Yes";
    case platform::IDNO: return "No";
    default: return "?";
    }
}

// Links are kept only so the page can offer them; a long-running daemon keeps the last few.
constexpr size_t kMaxLinks = 16;

}  // namespace

std::vector<MessageBoxButton> MessageBoxButtonsFor(uint32_t flags) {
    std::vector<int> ids;
    switch (flags & 0xF) {
    case 1: ids = {platform::IDOK, platform::IDCANCEL}; break;
    case 2: ids = {3, 4, 5}; break;
    case 3: ids = {platform::IDYES, platform::IDNO, platform::IDCANCEL}; break;
    case 4: ids = {platform::IDYES, platform::IDNO}; break;
    case 5: ids = {4, platform::IDCANCEL}; break;
    default: ids = {platform::IDOK}; break;
    }
    std::vector<MessageBoxButton> out;
    for (int id : ids) out.push_back({id, ButtonLabel(id)});
    return out;
}

std::string MessageBoxIconFor(uint32_t flags) {
    switch (flags & 0xF0) {
    case platform::MB_ICONERROR: return "error";
    case platform::MB_ICONQUESTION: return "question";
    case platform::MB_ICONWARNING: return "warning";
    case platform::MB_ICONINFORMATION: return "information";
    default: return {};
    }
}

ShellHostImpl::ShellHostImpl(platform::MessageLoop& loop, int64_t messageBoxTimeoutMs)
    : loop_(loop), timeoutMs_(messageBoxTimeoutMs), windowWatch_(std::make_shared<WindowWatch>()) {
    windowWatch_->host = this;
    platform::SetWindowChangeListener([watch = windowWatch_] { WindowsChanged(watch); });
}

ShellHostImpl::~ShellHostImpl() {
    platform::SetWindowChangeListener(nullptr);
    // A listener call already under way, or a task already posted, finds no host.
    std::lock_guard lock(windowWatch_->mutex);
    windowWatch_->host = nullptr;
}

void ShellHostImpl::WindowsChanged(const std::shared_ptr<WindowWatch>& watch) {
    std::lock_guard lock(watch->mutex);
    if (!watch->host || watch->queued) return;
    watch->queued = true;
    // The task runs once the current turn of the loop (or of a nested pump) is over, after
    // every change that turn makes.
    watch->host->loop_.PostTask([watch] {
        std::lock_guard inner(watch->mutex);
        watch->queued = false;
        if (!watch->host) return;
        std::lock_guard hostLock(watch->host->mutex_);
        watch->host->ChangedLocked();
    });
}

void ShellHostImpl::ChangedLocked() {
    ++version_;
    changed_.notify_all();
}

bool ShellHostImpl::NotificationAdd(const platform::Notification& n) {
    std::lock_guard lock(mutex_);
    // Adding a bubble that is already shown replaces it: the page shows one bubble per id.
    std::erase_if(notifications_, [&](const platform::Notification& old) { return SameKey(old, n.clsid, n.id); });
    notifications_.push_back(n);
    ChangedLocked();
    return true;
}

bool ShellHostImpl::NotificationUpdate(uint32_t mask, const platform::Notification& n) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(notifications_.begin(), notifications_.end(),
                           [&](const platform::Notification& old) { return SameKey(old, n.clsid, n.id); });
    if (it == notifications_.end()) return false;
    if (mask & platform::SHNUM_PRIORITY) it->priority = n.priority;
    if (mask & platform::SHNUM_DURATION) it->durationSeconds = n.durationSeconds;
    if (mask & platform::SHNUM_ICON) it->iconId = n.iconId;
    if (mask & platform::SHNUM_HTML) it->html = n.html;
    if (mask & platform::SHNUM_TITLE) it->title = n.title;
    ChangedLocked();
    return true;
}

bool ShellHostImpl::NotificationRemove(const std::string& clsid, uint32_t id) {
    std::lock_guard lock(mutex_);
    size_t removed =
        std::erase_if(notifications_, [&](const platform::Notification& old) { return SameKey(old, clsid, id); });
    if (removed == 0) return false;
    ChangedLocked();
    return true;
}

bool ShellHostImpl::Dismiss() {
    std::lock_guard lock(mutex_);
    if (notifications_.empty()) return false;
    notifications_.pop_back();
    ChangedLocked();
    return true;
}

int ShellHostImpl::MessageBox(platform::WindowHandle, const std::string& text, const std::string& caption,
                              uint32_t flags) {
    uint32_t boxId = 0;
    {
        std::lock_guard lock(mutex_);
        boxId = nextBoxId_++;
        OpenBox open;
        open.box = PendingMessageBox{boxId, text, caption, flags, MessageBoxIconFor(flags), MessageBoxButtonsFor(flags)};
        boxes_.push_back(std::move(open));
        ChangedLocked();
    }
    platform::LogInfo("message box \"" + caption + "\": " + text);

    auto answered = [this, boxId] {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(boxes_.begin(), boxes_.end(), [&](const OpenBox& b) { return b.box.id == boxId; });
        return it != boxes_.end() && it->answer.has_value();
    };
    // Only the loop's own thread may pump it; a call from elsewhere cannot wait for the page.
    bool done = loop_.IsLoopThread() && loop_.PumpUntil(answered, timeoutMs_);

    int result = platform::SafeMessageBoxAnswer(flags);
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(boxes_.begin(), boxes_.end(), [&](const OpenBox& b) { return b.box.id == boxId; });
        if (it != boxes_.end()) {
            if (done && it->answer) result = *it->answer;
            boxes_.erase(it);
        }
        ChangedLocked();
    }
    if (!done) {
        std::string why = loop_.QuitRequested() ? "the shell is shutting down" : "nobody answered in time";
        platform::LogWarning("message box \"" + caption + "\" closed unanswered (" + why + "): answered " +
                             ButtonLabel(result));
    }
    return result;
}

bool ShellHostImpl::Answer(uint32_t boxId, int button) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(boxes_.begin(), boxes_.end(), [&](const OpenBox& b) { return b.box.id == boxId; });
    if (it == boxes_.end() || it->answer) return false;
    const auto& buttons = it->box.buttons;
    if (std::none_of(buttons.begin(), buttons.end(), [&](const MessageBoxButton& b) { return b.id == button; })) {
        return false;
    }
    it->answer = button;
    // An outer box answered while an inner one is open returns only after the inner one;
    // the page hides it now.
    ChangedLocked();
    return true;
}

bool ShellHostImpl::OpenLink(const std::string& url) {
    platform::LogInfo("open link: " + url);
    std::lock_guard lock(mutex_);
    links_.push_back(url);
    ++linksOpened_;
    if (links_.size() > kMaxLinks) links_.erase(links_.begin());
    ChangedLocked();
    return true;
}

std::optional<platform::Notification> ShellHostImpl::CurrentNotification() const {
    std::lock_guard lock(mutex_);
    if (notifications_.empty()) return std::nullopt;
    return notifications_.back();
}

std::vector<PendingMessageBox> ShellHostImpl::MessageBoxes() const {
    std::lock_guard lock(mutex_);
    std::vector<PendingMessageBox> out;
    for (const auto& b : boxes_) {
        if (!b.answer) out.push_back(b.box);
    }
    return out;
}

uint64_t ShellHostImpl::Version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

std::vector<std::string> ShellHostImpl::OpenedLinks() const {
    std::lock_guard lock(mutex_);
    return links_;
}

std::vector<std::string> ShellHostImpl::OpenedLinksSince(uint64_t& mark) const {
    std::lock_guard lock(mutex_);
    const uint64_t fresh = linksOpened_ > mark ? std::min<uint64_t>(linksOpened_ - mark, links_.size()) : 0;
    mark = linksOpened_;
    return {links_.end() - static_cast<std::ptrdiff_t>(fresh), links_.end()};
}

void ShellHostImpl::PositionChanged() {
    std::lock_guard lock(mutex_);
    ++positions_;
    changed_.notify_all();
}

ShellHostImpl::Marks ShellHostImpl::CurrentMarks() const {
    std::lock_guard lock(mutex_);
    return {version_, positions_};
}

ShellHostImpl::Marks ShellHostImpl::WaitForChange(const Marks& seen, bool positions, std::chrono::milliseconds bound,
                                                  const std::function<bool()>& cancelled) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, bound, [&] {
        return version_ != seen.version || (positions && positions_ != seen.positions) || (cancelled && cancelled());
    });
    return {version_, positions_};
}

void ShellHostImpl::WakeWaiters() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

}  // namespace kestrix::shell
