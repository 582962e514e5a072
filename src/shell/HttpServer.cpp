// The only translation unit that includes the HTTP and JSON libraries, so the rest of the
// build stays quick to compile.
#include "shell/HttpServer.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>


#include "core/TrackerController.h"
#include "nmea/SatelliteTable.h"
#include "platform/Dialog.h"
#include "platform/HttpService.h"
#include "platform/Log.h"
#include "platform/Registry.h"
#include "platform/Thread.h"
#include "resources/Dialogs.h"
#include "resources/Resources.h"
#include "settings/NamedSettings.h"
#include "shell/DaemonClient.h"
#include "shell/PageAssets.h"
#include "shell/TodayScreen.h"
#include "today/ItemView.h"
#include "today/PluginEntry.h"

namespace kestrix::shell {

using nlohmann::json;

namespace {

// An event stream sends a comment this often so a closed browser tab is noticed and its
// request thread freed.
constexpr auto kEventKeepAlive = std::chrono::seconds(10);
constexpr size_t kRequestThreads = 8;
constexpr size_t kMaxBody = 64 * 1024;

platform::HttpServiceOptions ServiceOptions() {
    platform::HttpServiceOptions o;
    o.bounds.maxBody = kMaxBody;
    o.requestThreads = kRequestThreads;
    // Event streams hold their connections; past kMaxEventStreams the oldest is closed.
    o.maxConnections = 2 * kMaxEventStreams;
    o.refusal = [](int, const std::string& reason, std::string& type, std::string& body) {
        type = "application/json";
        body = nlohmann::json{{"error", reason}}.dump();
    };
    return o;
}

const char* const kJson = "application/json";

void SendJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), kJson);
}

void SendError(httplib::Response& res, int status, const std::string& message) {
    SendJson(res, status, json{{"error", message}});
}

// Parses a JSON object body; on failure answers 400 and returns false.
bool ParseBody(const httplib::Request& req, httplib::Response& res, json& out) {
    out = json::parse(req.body, nullptr, false);
    if (out.is_discarded()) {
        SendError(res, 400, "the request body is not valid JSON");
        return false;
    }
    if (!out.is_object()) {
        SendError(res, 400, "the request body must be a JSON object");
        return false;
    }
    return true;
}

// Reads an integer member in [lo, hi]; on failure answers 400 and returns false.
bool IntegerMember(const json& body, const char* name, int64_t lo, int64_t hi, httplib::Response& res,
                   int64_t& out) {
    auto it = body.find(name);
    if (it == body.end() || !it->is_number_integer()) {
        SendError(res, 400, std::string("\"") + name + "\" must be an integer");
        return false;
    }
    int64_t v = it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                    ? hi + 1
                    : it->get<int64_t>();
    if (v < lo || v > hi) {
        SendError(res, 400, std::string("\"") + name + "\" is out of range");
        return false;
    }
    out = v;
    return true;
}

// Reads a string member; on failure answers 400 and returns false.
bool StringMember(const json& body, const char* name, httplib::Response& res, std::string& out) {
    auto it = body.find(name);
    if (it == body.end() || !it->is_string()) {
        SendError(res, 400, std::string("\"") + name + "\" must be a string");
        return false;
    }
    out = it->get<std::string>();
    return true;
}

json BoxesJson(const std::vector<PendingMessageBox>& boxes) {
    json list = json::array();
    for (const auto& b : boxes) {
        json buttons = json::array();
        for (const auto& btn : b.buttons) buttons.push_back({{"id", btn.id}, {"label", btn.label}});
        list.push_back({{"id", b.id},
                        {"text", b.text},
                        {"caption", b.caption},
                        {"icon", b.icon},
                        {"flags", b.flags},
                        {"buttons", std::move(buttons)}});
    }
    return list;
}

// ---- dialogs ---------------------------------------------------------------------------

using platform::ControlInfo;
using platform::ControlType;
using platform::DialogInfo;

const char* TypeName(ControlType type) {
    switch (type) {
    case ControlType::Static: return "static";
    case ControlType::Group: return "group";
    case ControlType::Button: return "button";
    case ControlType::Check: return "check";
    case ControlType::List: return "list";
    case ControlType::Edit: return "edit";
    case ControlType::Password: return "password";
    case ControlType::Trackbar: return "trackbar";
    case ControlType::Tree: return "tree";
    case ControlType::Image: return "image";
    }
    return "static";
}

std::string ColourText(platform::Colorref c) {
    static const char* const hex = "0123456789abcdef";
    std::string out = "#";
    for (int shift : {0, 8, 16}) {  // a COLORREF is 0x00BBGGRR
        const unsigned v = (c >> shift) & 0xFF;
        out.push_back(hex[v >> 4]);
        out.push_back(hex[v & 15]);
    }
    return out;
}

json TreeJson(const std::vector<platform::TreeItemInfo>& items) {
    json list = json::array();
    for (const auto& i : items) {
        list.push_back({{"item", i.item},
                        {"text", i.text},
                        {"expanded", i.expanded},
                        {"hasChildren", i.hasChildren},
                        {"children", TreeJson(i.children)}});
    }
    return list;
}

json ControlJson(const ControlInfo& c) {
    json j{{"id", c.id},
           {"type", TypeName(c.type)},
           {"enabled", c.enabled},
           {"visible", c.visible},
           {"rect", {{"x", c.rect.left}, {"y", c.rect.top}, {"width", c.rect.Width()}, {"height", c.rect.Height()}}}};
    if (c.type != ControlType::Password) j["text"] = c.text;
    switch (c.type) {
    case ControlType::Check: j["checked"] = c.checked; break;
    case ControlType::List:
        j["items"] = c.items;
        j["selected"] = c.selected;
        break;
    case ControlType::Password: j["length"] = c.length; break;
    case ControlType::Trackbar:
        j["min"] = c.min;
        j["max"] = c.max;
        j["pos"] = c.pos;
        break;
    case ControlType::Static:
        j["color"] = ColourText(c.color);
        j["underline"] = c.underline;
        j["notify"] = c.notify;
        if (c.notify) {
            j["cursor"] = c.cursor == platform::IDC_HAND    ? json("hand")
                          : c.cursor == platform::IDC_ARROW ? json("arrow")
                                                            : json(nullptr);
        }
        break;
    case ControlType::Tree:
        j["items"] = TreeJson(c.tree);
        j["selected"] = c.treeSelected != 0 ? json(c.treeSelected) : json(nullptr);
        break;
    case ControlType::Image: j["svg"] = c.svg; break;
    default: break;
    }
    return j;
}

// ---- the satellite view ----------------------------------------------------------------
// The GPS status window's dialog also carries the satellite table it draws from, for the
// list the page shows under the sky plot.

bool IsSatelliteView(const DialogInfo& d) { return !d.sheet && d.templateId == kDlgGpsStatus; }

const char* SystemName(SatSystem system) {
    switch (system) {
    case SatSystem::Gps: return "GPS";
    case SatSystem::Glonass: return "GLONASS";
    case SatSystem::Galileo: return "Galileo";
    case SatSystem::BeiDou: return "BeiDou";
    case SatSystem::Qzss: return "QZSS";
    case SatSystem::NavIC: return "NavIC";
    case SatSystem::Unknown: break;
    }
    return "unknown";
}

json SatellitesJson(const std::vector<SatelliteRecord>& satellites) {
    json list = json::array();
    for (const SatelliteRecord& s : satellites) {
        list.push_back({{"system", SystemName(s.system)},
                        {"id", s.prn},
                        {"elevation", s.hasPosition ? json(s.elevation) : json(nullptr)},
                        {"azimuth", s.hasPosition ? json(s.azimuth) : json(nullptr)},
                        {"snr", s.snr},
                        {"used", s.used != 0}});
    }
    return list;
}

// ---- end of the satellite view ---------------------------------------------------------

// What the page needs of a dialog besides DescribeDialogs: whether it takes input (a
// dialog under a modal one does not) and the size of the area its controls lie in.
struct ShownDialog {
    DialogInfo info;
    bool enabled = true;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<SatelliteRecord> satellites;  // the satellite view's, taken with the rest
};

// UI thread.
std::vector<ShownDialog> ShownDialogs() {
    std::vector<ShownDialog> out;
    for (auto& info : platform::DescribeDialogs()) {
        ShownDialog d;
        d.enabled = platform::IsWindowEnabled(info.id);
        const platform::WindowHandle area = info.sheet ? platform::SheetPageWindow(info.id, info.page) : info.id;
        platform::Rect r;
        if (platform::GetClientRect(area, r)) {
            d.width = r.Width();
            d.height = r.Height();
        }
        if (IsSatelliteView(info)) d.satellites = SatelliteTable::Instance().Snapshot();
        d.info = std::move(info);
        out.push_back(std::move(d));
    }
    return out;
}

json DialogJson(const ShownDialog& d) {
    const DialogInfo& i = d.info;
    json controls = json::array();
    for (const auto& c : i.controls) controls.push_back(ControlJson(c));
    json j{{"id", i.id},
           {"kind", i.sheet ? "sheet" : "dialog"},
           {"caption", i.caption},
           {"modal", i.modal},
           {"enabled", d.enabled},
           {"template", i.templateId},
           {"doneButton", i.doneButton},
           {"cancelButton", i.cancelButton},
           {"width", d.width},
           {"height", d.height}};
    if (i.sheet) {
        j["pages"] = i.pages;
        j["page"] = i.page;
    }
    j["controls"] = std::move(controls);
    if (IsSatelliteView(i)) j["satellites"] = SatellitesJson(d.satellites);
    return j;
}

// One person's action on a dialog, as POST /api/dialog/input carries it.
struct DialogInput {
    enum class Event {
        Click, Select, Text, Scroll, Expand, Collapse, TreeSelect, Hover, Leave, Page, Done, Cancel, Key
    };
    Event event = Event::Click;
    std::string eventName;
    platform::WindowHandle dialog = platform::kNoWindow;
    int control = 0;
    int64_t number = 0;  // select and page: the index; scroll: the position; key: the key code
    uint16_t code = 0;   // scroll
    platform::TreeItem item = 0;
    std::string text;
};

struct EventName {
    const char* name;
    DialogInput::Event event;
    bool control;  // aimed at a control of the dialog
};
constexpr EventName kEvents[] = {
    {"click", DialogInput::Event::Click, true},       {"select", DialogInput::Event::Select, true},
    {"text", DialogInput::Event::Text, true},         {"scroll", DialogInput::Event::Scroll, true},
    {"expand", DialogInput::Event::Expand, true},     {"collapse", DialogInput::Event::Collapse, true},
    {"treeselect", DialogInput::Event::TreeSelect, true}, {"hover", DialogInput::Event::Hover, true},
    {"leave", DialogInput::Event::Leave, true},       {"page", DialogInput::Event::Page, false},
    {"done", DialogInput::Event::Done, false},        {"cancel", DialogInput::Event::Cancel, false},
    {"key", DialogInput::Event::Key, false},
};

// Reads the members the event needs; on failure answers 400 and returns false.
bool ParseDialogInput(const json& body, httplib::Response& res, DialogInput& in) {
    int64_t dialog = 0;
    if (!IntegerMember(body, "dialog", 1, UINT32_MAX, res, dialog) || !StringMember(body, "event", res, in.eventName)) {
        return false;
    }
    in.dialog = static_cast<platform::WindowHandle>(dialog);
    const EventName* kind = nullptr;
    for (const auto& e : kEvents) {
        if (in.eventName == e.name) kind = &e;
    }
    if (!kind) {
        SendError(res, 400, "\"event\" must be one of click, select, text, scroll, expand, collapse, treeselect, "
                            "hover, leave, page, done, cancel, key");
        return false;
    }
    in.event = kind->event;
    int64_t value = 0;
    if (kind->control) {
        if (!IntegerMember(body, "control", -1, 65535, res, value)) return false;
        in.control = static_cast<int>(value);
    }
    using E = DialogInput::Event;
    switch (in.event) {
    case E::Select:
    case E::Page: return IntegerMember(body, "index", 0, INT32_MAX, res, in.number);
    case E::Key: return IntegerMember(body, "key", 1, 254, res, in.number);
    case E::Text: return StringMember(body, "text", res, in.text);
    case E::Expand:
    case E::Collapse:
    case E::TreeSelect:
        if (!IntegerMember(body, "item", 1, INT64_MAX, res, value)) return false;
        in.item = static_cast<platform::TreeItem>(value);
        return true;
    case E::Scroll: {
        if (!IntegerMember(body, "pos", INT32_MIN, INT32_MAX, res, in.number)) return false;
        auto code = body.find("code");
        if (code != body.end() && code->is_string() && (*code == "thumbtrack" || *code == "endtrack")) {
            in.code = *code == "thumbtrack" ? platform::TB_THUMBTRACK : platform::TB_ENDTRACK;
            return true;
        }
        if (code != body.end() && code->is_number_integer()) {
            if (!IntegerMember(body, "code", 0, platform::TB_ENDTRACK, res, value)) return false;
            in.code = static_cast<uint16_t>(value);
            return true;
        }
        SendError(res, 400, "\"code\" must be \"thumbtrack\", \"endtrack\" or a trackbar code (0 to 8)");
        return false;
    }
    default: return true;
    }
}

bool HasTreeItem(const std::vector<platform::TreeItemInfo>& items, platform::TreeItem item) {
    for (const auto& i : items) {
        if (i.item == item || HasTreeItem(i.children, item)) return true;
    }
    return false;
}

// Whether the control takes the event; the reason in why when it does not.
bool Fits(const DialogInput& in, const ControlInfo& c, std::string& why) {
    using E = DialogInput::Event;
    bool fits = false;
    switch (in.event) {
    case E::Click:
        fits = c.type == ControlType::Button || c.type == ControlType::Check ||
               (c.type == ControlType::Static && c.notify);
        break;
    case E::Hover:
    case E::Leave: fits = c.type == ControlType::Static && c.notify; break;
    case E::Select:
        fits = c.type == ControlType::List;
        if (fits && in.number >= static_cast<int64_t>(c.items.size())) {
            why = "\"index\" is out of range: the list has " + std::to_string(c.items.size()) + " items";
            return false;
        }
        break;
    case E::Text: fits = c.type == ControlType::Edit || c.type == ControlType::Password; break;
    case E::Scroll: fits = c.type == ControlType::Trackbar; break;
    case E::Expand:
    case E::Collapse:
    case E::TreeSelect: fits = c.type == ControlType::Tree; break;
    default: break;
    }
    if (!fits) {
        why = std::string("control ") + std::to_string(c.id) + " (" + TypeName(c.type) +
              (c.type == ControlType::Static ? " without SS_NOTIFY" : "") + ") does not take \"" + in.eventName + "\"";
    }
    return fits;
}

struct InputOutcome {
    int status = 200;
    std::string error;
    std::vector<std::string> opened;  // links the input opened
};

// Checks the input against what the dialog shows and does it. UI thread.
InputOutcome ApplyDialogInput(const DialogInput& in, ShellHostImpl& host) {
    using E = DialogInput::Event;
    InputOutcome out;
    auto fail = [&](int status, std::string error) {
        out.status = status;
        out.error = std::move(error);
        return out;
    };
    if (!host.MessageBoxes().empty()) return fail(409, "a message box is waiting for an answer");
    const std::vector<ShownDialog> shown = ShownDialogs();
    auto d = std::find_if(shown.begin(), shown.end(), [&](const ShownDialog& s) { return s.info.id == in.dialog; });
    if (d == shown.end()) return fail(404, "no open dialog has the id " + std::to_string(in.dialog));
    if (!d->enabled) return fail(409, "the dialog takes no input while a dialog opened from it is open");
    const bool onControl = in.event != E::Page && in.event != E::Done && in.event != E::Cancel && in.event != E::Key;
    if (onControl) {
        auto c = std::find_if(d->info.controls.begin(), d->info.controls.end(),
                              [&](const ControlInfo& ci) { return ci.id == in.control; });
        if (c == d->info.controls.end()) {
            return fail(404, "the dialog shows no control with the id " + std::to_string(in.control));
        }
        std::string why;
        if (!Fits(in, *c, why)) return fail(400, why);
        if (!c->visible || !c->enabled) {
            return fail(409, "control " + std::to_string(in.control) + " is " + (c->visible ? "disabled" : "hidden"));
        }
        if ((in.event == E::Expand || in.event == E::Collapse || in.event == E::TreeSelect) &&
            !HasTreeItem(c->tree, in.item)) {
            return fail(404, "the tree shows no item " + std::to_string(in.item));
        }
    }
    if (in.event == E::Page) {
        if (!d->info.sheet) return fail(400, "\"page\" is for property sheets, and this dialog is not one");
        if (in.number >= static_cast<int64_t>(d->info.pages.size())) {
            return fail(400, "\"index\" is out of range: the sheet has " + std::to_string(d->info.pages.size()) +
                                 " pages");
        }
    }
    uint64_t mark = 0;
    host.OpenedLinksSince(mark);
    // What the dialog's code then does (refuse a page, open a message box) is its answer
    // to the person, shown in the dialogs and message boxes; the input was handled.
    const int number = static_cast<int>(in.number);
    switch (in.event) {
    case E::Click: platform::ClickControl(in.dialog, in.control); break;
    case E::Select: platform::SelectListItem(in.dialog, in.control, number); break;
    case E::Text: platform::TypeText(in.dialog, in.control, in.text); break;
    case E::Scroll: platform::ScrollTrackbar(in.dialog, in.control, number, in.code); break;
    case E::Expand: platform::ExpandTreeItem(in.dialog, in.control, in.item, true); break;
    case E::Collapse: platform::ExpandTreeItem(in.dialog, in.control, in.item, false); break;
    case E::TreeSelect: platform::SelectTreeItem(in.dialog, in.control, in.item); break;
    case E::Hover: platform::HoverControl(in.dialog, in.control, true); break;
    case E::Leave: platform::HoverControl(in.dialog, in.control, false); break;
    case E::Page: platform::SelectSheetPage(in.dialog, number); break;
    case E::Done: platform::PressDone(in.dialog); break;
    case E::Cancel: platform::PressCancel(in.dialog); break;
    case E::Key: platform::PressKey(in.dialog, number); break;
    }
    out.opened = host.OpenedLinksSince(mark);
    return out;
}

// The logic's narrow text is UTF-8 on Linux, but a server message may carry anything;
// the JSON library refuses invalid UTF-8, so such bytes are replaced.
std::string DumpJson(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }


}  // namespace

bool IsLoopbackAddress(const std::string& address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool ParseListenAddress(const std::string& text, std::string& address, uint16_t& port, std::string& error) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        error = "expected ADDRESS:PORT, got \"" + text + "\"";
        return false;
    }
    std::string host = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc() || end != portText.data() + portText.size() || value > 65535) {
        error = "\"" + portText + "\" is not a port number (0 to 65535)";
        return false;
    }
    if (host == "localhost") host = "127.0.0.1";
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) != 1) {
        error = "\"" + host + "\" is not a dotted IPv4 address";
        return false;
    }
    address = host;
    port = static_cast<uint16_t>(value);
    return true;
}

std::string MakeRandomToken() {
    unsigned char bytes[16] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        // The system's generator failing is not expected; a fixed token would be guessable.
        std::random_device rd;
        for (auto& b : bytes) b = static_cast<unsigned char>(rd());
    }
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(hex[b >> 4]);
        out.push_back(hex[b & 15]);
    }
    return out;
}

struct HttpServer::Impl {
    // Shared with the tasks posted to the UI thread, which may outlive a request that
    // stopped waiting for them.
    struct Bridge {
        std::mutex mutex;
        std::condition_variable cv;
        bool stopping = false;
    };

    Impl(platform::MessageLoop& l, ShellHostImpl& h, std::string t) : loop(l), host(h), token(std::move(t)) {}

    // Runs fn on the UI thread and waits for it; false when the server stops before fn has
    // started, and then fn never runs (it may refer to the request's own variables).
    bool OnUiThread(std::function<void()> fn) {
        struct Call {
            bool started = false;
            bool done = false;
            bool abandoned = false;
        };
        auto b = bridge;
        auto call = std::make_shared<Call>();
        loop.PostTask([b, call, fn = std::move(fn)] {
            {
                std::lock_guard lock(b->mutex);
                if (call->abandoned) return;
                call->started = true;
            }
            fn();
            std::lock_guard lock(b->mutex);
            call->done = true;
            b->cv.notify_all();
        });
        std::unique_lock lock(b->mutex);
        // Once started, fn is short and never blocks: wait for it even while stopping.
        b->cv.wait(lock, [&] { return call->done || (b->stopping && !call->started); });
        call->abandoned = !call->done;
        return call->done;
    }

    // Runs fn on the UI thread and waits until fn has returned or waits for a person in a
    // nested pump it started (a dialog or message box it opened): Finished, Waiting, or
    // NotRun when the server stops before fn has started (it then never runs). fn may
    // outlive the request, so it must own what it uses; what it hands back goes through
    // result, which it sets under the bridge's lock before it returns.
    enum class UiRun { NotRun, Finished, Waiting };
    UiRun OnUiThreadUntilWaiting(std::function<void()> fn) {
        struct Call {
            bool started = false;
            bool done = false;
            bool waiting = false;
            bool abandoned = false;
        };
        auto b = bridge;
        auto call = std::make_shared<Call>();
        platform::MessageLoop& l = loop;
        loop.PostTask([b, call, &l, fn = std::move(fn)] {
            {
                std::lock_guard lock(b->mutex);
                if (call->abandoned) return;
                call->started = true;
            }
            // Queued behind fn: it runs while fn is still going only when fn pumps the loop,
            // which it does to wait for a person.
            l.PostTask([b, call] {
                std::lock_guard lock(b->mutex);
                call->waiting = true;
                b->cv.notify_all();
            });
            fn();
            std::lock_guard lock(b->mutex);
            call->done = true;
            b->cv.notify_all();
        });
        std::unique_lock lock(b->mutex);
        b->cv.wait(lock, [&] { return call->done || call->waiting || (b->stopping && !call->started); });
        if (call->done) return UiRun::Finished;
        if (call->waiting) return UiRun::Waiting;
        call->abandoned = true;
        return UiRun::NotRun;
    }

    // A request's work on the UI thread, answered once it has run or waits for a person:
    // work returns an outcome with a status and an error text. False once the request has
    // been answered here (503 when the server stopped before work started, work's error
    // when its status is not 200); otherwise run tells Finished (out holds the outcome) or
    // Waiting.
    template <class Outcome>
    bool RunUntilWaiting(httplib::Response& res, std::function<Outcome()> work, UiRun& run, Outcome& out) {
        auto b = bridge;
        auto shared = std::make_shared<Outcome>();
        run = OnUiThreadUntilWaiting([b, shared, work = std::move(work)] {
            Outcome result = work();
            std::lock_guard lock(b->mutex);
            *shared = std::move(result);
        });
        if (run == UiRun::NotRun) {
            SendError(res, 503, "the shell is shutting down");
            return false;
        }
        if (run == UiRun::Waiting) return true;
        std::lock_guard lock(b->mutex);
        out = std::move(*shared);
        if (out.status == 200) return true;
        SendError(res, out.status, out.error);
        return false;
    }

    bool TokenOk(const httplib::Request& req) const {
        std::string given = req.get_header_value("X-Kestrix-Token");
        return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
    }

    // A page served on loopback is reachable only by the names of loopback, so a web site
    // that rebinds its own name to 127.0.0.1 cannot read the API.
    bool HostOk(const httplib::Request& req) const {
        if (!loopbackOnly) return true;
        std::string h = req.get_header_value("Host");
        std::string p = ":" + std::to_string(port);
        return h == "127.0.0.1" + p || h == "localhost" + p || h == boundAddress + p;
    }

    void Routes();
    void TodayRoutes();
    void Events(const httplib::Request& req, httplib::Response& res);
    // An open event stream, counted in while it lives; closed tells it to end.
    struct Stream {
        explicit Stream(Impl& i) : impl(i), thread(i.service.BeginLongAnswer()) {}
        ~Stream() { impl.CloseStream(this); }
        Impl& impl;
        platform::HttpService::LongAnswer thread;  // another thread answers requests meanwhile
        std::atomic<bool> closed{false};
    };
    // Counts a new stream in; past the limit the oldest one is told to close.
    std::shared_ptr<Stream> OpenStream();
    void CloseStream(Stream* stream);

    platform::MessageLoop& loop;
    ShellHostImpl& host;
    const std::string token;
    std::shared_ptr<Bridge> bridge = std::make_shared<Bridge>();
    std::atomic<bool> stopping{false};
    std::mutex streamsMutex;
    std::deque<Stream*> streams;  // open streams not yet told to close, oldest first
    platform::HttpService service{ServiceOptions()};
    httplib::Server& server = service.Routes();
    std::string boundAddress;
    bool loopbackOnly = true;
    std::atomic<int> port{0};
    bool started = false;
    TodayScreen* today = nullptr;  // read and written on the UI thread only
};

void HttpServer::Impl::Routes() {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        if (!HostOk(req)) {
            SendError(res, 403, "unexpected Host header");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method == "POST" && !TokenOk(req)) {
            SendError(res, 403, "missing or wrong X-Kestrix-Token header");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            SendError(res, res.status, res.status == 404 ? "no such resource" : "request failed");
        }
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendError(res, 500, "internal error");
    });

    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        // The status page is the logic's HTML: the policy keeps any script in it from running.
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                       "img-src 'self' data:; frame-ancestors 'none'; form-action 'none'");
        res.set_content(PageHtml(token), "text/html; charset=utf-8");
    });
    server.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(PageScript()), "text/javascript; charset=utf-8");
    });
    server.Get("/app.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(PageStyle()), "text/css; charset=utf-8");
    });

    server.Get("/api/notification", [this](const httplib::Request&, httplib::Response& res) {
        uint64_t version = host.Version();
        auto n = host.CurrentNotification();
        if (!n) {
            res.status = 404;
            res.set_content(DumpJson({{"error", "no notification is shown"}, {"version", version}}), kJson);
            return;
        }
        json body{{"title", n->title}, {"icon", n->iconId}, {"html", n->html}, {"version", version}};
        res.set_content(DumpJson(body), kJson);
    });

    server.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        int64_t id = 0;
        if (!ParseBody(req, res, body) || !IntegerMember(body, "id", 1, 65535, res, id)) return;
        bool shown = false;
        bool posted = false;
        bool ran = OnUiThread([&, id] {
            auto n = host.CurrentNotification();
            shown = n.has_value();
            if (shown) {
                posted = platform::PostMessage(n->sink, platform::WM_COMMAND, static_cast<platform::WParam>(id), 0);
            }
        });
        if (!ran) return SendError(res, 503, "the shell is shutting down");
        if (!shown) return SendError(res, 409, "no notification is shown");
        if (!posted) return SendError(res, 409, "the notification's window is gone");
        SendJson(res, 200, json{{"ok", true}});
    });

    server.Post("/api/notification/dismiss", [this](const httplib::Request&, httplib::Response& res) {
        bool dismissed = false;
        if (!OnUiThread([&] { dismissed = host.Dismiss(); })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!dismissed) return SendError(res, 409, "no notification is shown");
        SendJson(res, 200, json{{"ok", true}});
    });

    server.Get("/api/messageboxes", [this](const httplib::Request&, httplib::Response& res) {
        uint64_t version = host.Version();
        json links = json::array();
        for (const auto& l : host.OpenedLinks()) links.push_back(l);
        json body{{"version", version}, {"messageboxes", BoxesJson(host.MessageBoxes())}, {"links", links}};
        res.set_content(DumpJson(body), kJson);
    });

    server.Post("/api/messagebox/answer", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        int64_t id = 0;
        int64_t button = 0;
        if (!ParseBody(req, res, body) || !IntegerMember(body, "id", 1, UINT32_MAX, res, id) ||
            !IntegerMember(body, "button", 1, 7, res, button)) {
            return;
        }
        bool answered = false;
        if (!OnUiThread([&] { answered = host.Answer(static_cast<uint32_t>(id), static_cast<int>(button)); })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!answered) return SendError(res, 404, "no open message box with that id shows that button");
        SendJson(res, 200, json{{"ok", true}});
    });

    server.Get("/api/dialogs", [this](const httplib::Request&, httplib::Response& res) {
        std::vector<ShownDialog> dialogs;
        uint64_t version = 0;
        if (!OnUiThread([&] {
                version = host.Version();
                dialogs = ShownDialogs();
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        json list = json::array();
        for (const auto& d : dialogs) list.push_back(DialogJson(d));
        res.set_content(DumpJson({{"version", version}, {"dialogs", std::move(list)}}), kJson);
    });

    server.Post("/api/dialog/input", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        DialogInput in;
        if (!ParseBody(req, res, body) || !ParseDialogInput(body, res, in)) return;
        UiRun run = UiRun::NotRun;
        InputOutcome outcome;
        // The host outlives the loop's last turn; this server may not outlive the input.
        if (!RunUntilWaiting<InputOutcome>(
                res, [&h = host, in = std::move(in)] { return ApplyDialogInput(in, h); }, run, outcome)) {
            return;
        }
        json answer{{"ok", true}};
        if (run == UiRun::Finished && !outcome.opened.empty()) answer["opened"] = outcome.opened;
        res.set_content(DumpJson(answer), kJson);
    });

    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        // Read on the UI thread after everything posted before this request (commands
        // included) has been handled, so a script sees the effect of its last command.
        json body;
        bool exists = false;
        if (!OnUiThread([&] {
                exists = TrackerController::Exists();
                if (!exists) return;
                TrackerController* c = TrackerController::Instance();
                body = json{{"state", c->GetState()},
                            {"acLineStatus", c->GetAcLineStatus()},
                            {"stoppedByUser", c->StoppedByUser()},
                            {"receiverRunning", c->IsReceiverRunning()},
                            {"sessionRunning", c->IsSessionRunning()}};
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!exists) return SendError(res, 404, "the tracker is not loaded");
        SendJson(res, 200, body);
    });

    server.Get("/api/settings", [this](const httplib::Request& req, httplib::Response& res) {
        // It shows the password's digest: asked with the token, as a change is.
        if (!TokenOk(req)) return SendError(res, 403, "missing or wrong X-Kestrix-Token header");
        bool exists = false;
        json list = json::array();
        if (!OnUiThread([&] {
                exists = TrackerController::Exists();
                if (!exists) return;
                const TrackerSettings& s = TrackerController::Instance()->GetSettings();
                for (const auto& name : SettingNames()) {
                    list.push_back({{"name", name}, {"value", ShowSetting(s, name)}});
                }
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!exists) return SendError(res, 404, "the tracker is not loaded");
        res.set_content(DumpJson({{"settings", std::move(list)}}), kJson);
    });

    server.Post("/api/settings", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        std::string name;
        std::string value;
        if (!ParseBody(req, res, body) || !StringMember(body, "name", res, name) ||
            !StringMember(body, "value", res, value)) {
            return;
        }
        bool loaded = false;
        std::string refused;
        int saveError = 0;
        if (!OnUiThread([&] {
                loaded = TrackerController::Exists() && TrackerController::Instance()->GetInstance() != 0;
                if (!loaded) return;
                TrackerController* c = TrackerController::Instance();
                refused = ChangeSetting(c->GetSettings(), name, value);
                if (!refused.empty()) return;
                // As the Settings command does: saved, then the services restart with them.
                saveError = c->GetSettings().Save();
                c->StopServices(kUsePowerMode, false);
                c->StartServices(kUsePowerMode);
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!loaded) return SendError(res, 404, "the tracker is not loaded");
        if (!refused.empty()) return SendError(res, 400, refused);
        if (saveError != 0) {
            return SendError(res, 500, "the daemon took the change but cannot save it to " + platform::RegistryFilePath() +
                                           " (error " + std::to_string(saveError) + ")");
        }
        SendJson(res, 200, json{{"ok", true}});
    });

    TodayRoutes();

    server.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) { Events(req, res); });

    server.Get(R"(/resources/(\d{1,6})\.svg)", [](const httplib::Request& req, httplib::Response& res) {
        const char* svg = ResourceSvg(std::stoi(req.matches[1].str()));
        if (!svg) return SendError(res, 404, "no image with that id");
        res.set_content(svg, "image/svg+xml");
    });
}

// ---- the home-screen item row --------------------------------------------------------

namespace {

// What a person's input to the item row came to, handed back from the UI thread.
struct ItemOutcome {
    int status = 200;
    std::string error;
    platform::LResult result = 0;
};

}  // namespace

void HttpServer::Impl::TodayRoutes() {
    server.Get("/api/today", [this](const httplib::Request&, httplib::Response& res) {
        // Read before the painting, so a change after it brings another event.
        const uint64_t version = host.Version();
        bool loaded = false;
        int32_t height = 0;
        uint32_t selected = 0;
        std::string svg;
        if (!OnUiThread([&] {
                if (!today || today->ItemWindow() == platform::kNoWindow) return;
                loaded = true;
                svg = today->ItemPainting();
                height = today->ItemHeight();
                if (const today::ItemView* view = today::GetItemView()) selected = view->GetSelection();
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!loaded) {
            res.status = 404;
            res.set_content(DumpJson({{"error", "the home-screen item is not loaded"}, {"version", version}}), kJson);
            return;
        }
        res.set_content(DumpJson({{"version", version}, {"height", height}, {"selected", selected}, {"svg", svg}}),
                        kJson);
    });

    // Sends one message to the item window on the UI thread and answers with its result. An
    // action that waits for a person (the settings sheet it opened) is answered at once with
    // "waiting" instead; its effect shows through the event stream.
    auto deliver = [this](httplib::Response& res, std::function<void(TodayScreen&, ItemOutcome&)> act) {
        UiRun run = UiRun::NotRun;
        ItemOutcome outcome;
        const bool ran = RunUntilWaiting<ItemOutcome>(
            res,
            [this, act = std::move(act)] {
                ItemOutcome result;
                if (today && today->ItemWindow() != platform::kNoWindow) {
                    act(*today, result);
                } else {
                    result.status = 404;
                    result.error = "the home-screen item is not loaded";
                }
                return result;
            },
            run, outcome);
        if (!ran) return;
        if (run == UiRun::Waiting) return SendJson(res, 200, json{{"ok", true}, {"waiting", true}});
        SendJson(res, 200, json{{"ok", true}, {"result", outcome.result}});
    };

    server.Post("/api/today/tap", [deliver](const httplib::Request& req, httplib::Response& res) {
        json body;
        int64_t x = 0;
        if (!ParseBody(req, res, body) || !IntegerMember(body, "x", 0, 65535, res, x)) return;
        deliver(res, [x](TodayScreen& screen, ItemOutcome& out) {
            const int32_t width = screen.ItemWidth();
            if (width <= 0) {
                out.status = 409;
                out.error = "the home-screen item has not been sized yet";
                return;
            }
            if (x >= width) {
                out.status = 400;
                out.error = "\"x\" must lie in the item row (0 to " + std::to_string(width - 1) + ")";
                return;
            }
            out.result = screen.Tap(static_cast<int32_t>(x));
        });
    });

    server.Post("/api/today/key", [deliver](const httplib::Request& req, httplib::Response& res) {
        json body;
        std::string message;
        int64_t key = 0;
        if (!ParseBody(req, res, body) || !StringMember(body, "message", res, message)) return;
        if (message != "navigation" && message != "selection" && message != "action") {
            return SendError(res, 400, "\"message\" must be \"navigation\", \"selection\" or \"action\"");
        }
        // The action key carries no key code of its own.
        if ((message != "action" || body.contains("key")) && !IntegerMember(body, "key", 0, 255, res, key)) return;
        deliver(res, [message, key](TodayScreen& screen, ItemOutcome& out) {
            const int k = static_cast<int>(key);
            out.result = message == "navigation" ? screen.Navigate(k)
                         : message == "selection" ? screen.Select(k)
                                                  : screen.Action();
        });
    });
}

std::shared_ptr<HttpServer::Impl::Stream> HttpServer::Impl::OpenStream() {
    auto stream = std::make_shared<Stream>(*this);
    bool evicted = false;
    {
        std::lock_guard lock(streamsMutex);
        streams.push_back(stream.get());
        if (streams.size() > kMaxEventStreams) {
            streams.front()->closed = true;
            streams.pop_front();
            evicted = true;
        }
    }
    if (evicted) host.WakeWaiters();
    return stream;
}

void HttpServer::Impl::CloseStream(Stream* stream) {
    std::lock_guard lock(streamsMutex);
    std::erase(streams, stream);
}

void HttpServer::Impl::Events(const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Accel-Buffering", "no");
    auto seen = std::make_shared<std::optional<uint64_t>>();
    // The provider owns the stream: it is counted out when the response goes.
    auto ended = [this, stream = OpenStream()] { return stopping.load() || stream->closed.load(); };
    res.set_chunked_content_provider(
        "text/event-stream", [this, seen, ended](size_t, httplib::DataSink& sink) {
            if (ended()) return false;
            uint64_t before = seen->value_or(host.Version());
            uint64_t now = seen->has_value() ? host.WaitForChange(before, kEventKeepAlive, ended) : before;
            if (ended()) return false;
            std::string chunk;
            if (!seen->has_value() || now != before) {
                // The first event tells a new page where things stand; later ones that they moved.
                chunk = "event: change\ndata: {\"version\":" + std::to_string(now) + "}\n\n";
                *seen = now;
            } else {
                chunk = ": keep-alive\n\n";
            }
            return sink.write(chunk.data(), chunk.size());
        });
}

HttpServer::HttpServer(platform::MessageLoop& loop, ShellHostImpl& host, std::string token)
    : impl_(std::make_unique<Impl>(loop, host, std::move(token))) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const std::string& address, uint16_t port, std::string& error) {
    if (impl_->started) {
        error = "already started";
        return false;
    }
    impl_->Routes();
    // Set before the first request can read them; the port once it is known.
    impl_->boundAddress = address;
    impl_->loopbackOnly = IsLoopbackAddress(address);
    impl_->port = port;
    std::string why;
    if (!impl_->service.Start(address, port, why)) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + why;
        return false;
    }
    impl_->port = impl_->service.Port();
    impl_->started = true;
    return true;
}

void HttpServer::SetTodayScreen(TodayScreen* screen) { impl_->today = screen; }

uint16_t HttpServer::Port() const { return static_cast<uint16_t>(impl_->port); }

const std::string& HttpServer::Token() const { return impl_->token; }

void HttpServer::Stop() {
    if (!impl_->started) return;
    impl_->started = false;
    impl_->stopping = true;
    {
        std::lock_guard lock(impl_->bridge->mutex);
        impl_->bridge->stopping = true;
    }
    impl_->bridge->cv.notify_all();
    impl_->host.WakeWaiters();
    impl_->service.Stop();
}

// ---- the client kestrix config uses ----------------------------------------------------

namespace {

constexpr time_t kClientConnectSeconds = 2;
constexpr time_t kClientReadSeconds = 5;
// A change restarts the services: stopping the session alone may take 5 s.
constexpr time_t kClientChangeSeconds = 30;

std::string WhyNoAnswer(httplib::Error error, time_t readSeconds) {
    switch (error) {
    case httplib::Error::Connection: return "it does not take connections";
    case httplib::Error::ConnectionTimeout: return "no connection within " + std::to_string(kClientConnectSeconds) + " s";
    case httplib::Error::Read: return "no answer within " + std::to_string(readSeconds) + " s";
    default: return httplib::to_string(error);
    }
}

// One request to /api/settings. Done with the answer's JSON object in answer, or why not.
DaemonReply AskDaemon(const DaemonRecord& d, const std::string* postBody, json& answer) {
    DaemonReply reply;
    const std::string where = "http://" + d.address + ":" + std::to_string(d.port) + "/";
    if (!IsLoopbackAddress(d.address)) {
        reply.message = "it serves " + where + ", which is not a loopback address";
        return reply;
    }
    httplib::Client cli(d.address, d.port);
    cli.set_connection_timeout(kClientConnectSeconds, 0);
    const time_t readSeconds = postBody ? kClientChangeSeconds : kClientReadSeconds;
    cli.set_read_timeout(readSeconds, 0);
    cli.set_write_timeout(kClientConnectSeconds, 0);
    const httplib::Headers headers{{"X-Kestrix-Token", d.token}};
    auto res = postBody ? cli.Post("/api/settings", headers, *postBody, kJson) : cli.Get("/api/settings", headers);
    if (!res) {
        reply.message = where + ": " + WhyNoAnswer(res.error(), readSeconds);
        return reply;
    }
    answer = json::parse(res->body, nullptr, false);
    if (res->status == 200 && answer.is_object()) {
        reply.kind = DaemonReply::Kind::Done;
        return reply;
    }
    auto error = answer.is_object() ? answer.find("error") : answer.end();
    if (res->status == 403 || !answer.is_object() || error == answer.end() || !error->is_string()) {
        reply.message = "the answer at " + where + " is not the daemon's (status " + std::to_string(res->status) + ")";
        return reply;
    }
    reply.kind = res->status == 400 ? DaemonReply::Kind::Refused : DaemonReply::Kind::Failed;
    reply.message = error->get<std::string>();
    return reply;
}

}  // namespace

DaemonReply ReadDaemonSettings(const DaemonRecord& daemon) {
    json answer;
    DaemonReply reply = AskDaemon(daemon, nullptr, answer);
    if (reply.kind != DaemonReply::Kind::Done) return reply;
    auto list = answer.find("settings");
    if (list != answer.end() && list->is_array()) {
        for (const auto& item : *list) {
            auto name = item.is_object() ? item.find("name") : item.end();
            auto value = item.is_object() ? item.find("value") : item.end();
            if (name == item.end() || value == item.end() || !name->is_string() || !value->is_string()) break;
            reply.settings.emplace_back(name->get<std::string>(), value->get<std::string>());
        }
        if (reply.settings.size() == list->size()) return reply;
    }
    reply.kind = DaemonReply::Kind::NoAnswer;
    reply.message = "its list of settings does not parse";
    reply.settings.clear();
    return reply;
}

DaemonReply ChangeDaemonSetting(const DaemonRecord& daemon, const std::string& name, const std::string& value) {
    std::string body;
    try {
        body = json{{"name", name}, {"value", value}}.dump();
    } catch (const json::exception&) {
        // JSON carries UTF-8 only; the value is refused rather than changed on the way.
        DaemonReply reply;
        reply.kind = DaemonReply::Kind::Refused;
        reply.message = name + " cannot be \"" + value + "\" (it is not UTF-8 text)";
        return reply;
    }
    json answer;
    return AskDaemon(daemon, &body, answer);
}

}  // namespace kestrix::shell
