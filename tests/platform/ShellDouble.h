// A shell that records what the logic asks it to show. Each call also lands in the journal
// when one is given, so tests can check the order of calls across services. Message boxes
// are answered with `answer`, as a person would, after whileShown has run (the box's thread).
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Shell.h"

namespace kestrix::test {

class Journal {
public:
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(calls_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

class ShellDouble final : public platform::ShellHost {
public:
    struct Box { std::string text, caption; uint32_t flags; bool operator==(const Box&) const = default; };
    struct Update { uint32_t mask; platform::Notification n; };
    explicit ShellDouble(Journal* journal = nullptr) : journal_(journal) {}
    bool NotificationAdd(const platform::Notification& n) override {
        Note("shell.Add");
        adds.push_back(n);
        return shown = true;
    }
    bool NotificationUpdate(uint32_t mask, const platform::Notification& n) override {
        Note(shown ? "shell.Update" : "shell.UpdateRefused");
        if (shown) updates.push_back({mask, n});
        return shown;
    }
    bool NotificationRemove(const std::string& clsid, uint32_t id) override {
        Note("shell.Remove " + clsid + " " + std::to_string(id));
        shown = false;
        return true;
    }
    int MessageBox(platform::WindowHandle, const std::string& text, const std::string& caption,
                   uint32_t flags) override {
        Note("shell.MessageBox " + caption);
        boxes.push_back({text, caption, flags});
        if (whileShown) whileShown();
        return answer;
    }
    bool OpenLink(const std::string& url) override {
        links.push_back(url);
        return true;
    }

    bool shown = false;
    std::vector<platform::Notification> adds;
    std::vector<Update> updates;
    std::vector<Box> boxes;
    std::vector<std::string> links;
    int answer = platform::IDOK;
    std::function<void()> whileShown;

private:
    void Note(const std::string& call) {
        if (journal_) journal_->Add(call);
    }
    Journal* journal_;
};

}  // namespace kestrix::test
