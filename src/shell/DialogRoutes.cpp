// The dialogs' area of the HTTP API: every open dialog and property sheet described for the
// page (the satellite view with its satellite table), and a person's input to them.
#include <algorithm>

#include "nmea/SatelliteTable.h"
#include "platform/Dialog.h"
#include "resources/Dialogs.h"
#include "shell/HttpServerImpl.h"

namespace kestrix::shell {

namespace {

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

// The server's task queue. cpp-httplib runs each connection as one task on a pool thread,
// and an event stream's task lasts as long as the stream; so each open stream brings one
// more thread, and requestThreads threads stay for requests however many streams are open.

}  // namespace

void HttpServer::Impl::DialogRoutes() {
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
}

}  // namespace kestrix::shell
