#include "ui/SettingsSheet.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/Shell.h"
#include "resources/Dialogs.h"
#include "settings/NamedSettings.h"
#include "ui/ColorText.h"
#include "ui/FolderChooser.h"
#include "ui/GpsPortPage.h"
#include "ui/Hyperlink.h"
#include "ui/PageSupport.h"

namespace kestrix::ui {

using namespace platform;

namespace {

constexpr uint32_t kSheetFlags = PSH_PROPSHEETPAGE | PSH_USEICONID | PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_MAXIMIZE;
static_assert(kSheetFlags == 0x218C);
constexpr uint32_t kSheetShellFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_CANCELBUTTON;
constexpr uint32_t kAttentionFlags = MB_ICONWARNING | MB_TOPMOST;  // 0x40030
constexpr size_t kMaxAccountChars = 127;
constexpr size_t kMaxPathChars = 259;
constexpr size_t kFolderBufferChars = 260;
constexpr uint32_t kModeTrackerBit = 1;
constexpr uint32_t kModeLoggerBit = 2;
constexpr uint32_t kTimeoutFlag = 1;
constexpr uint32_t kPointCountFlag = 2;
constexpr Colorref kNoticeColour = 0x000000FF;  // red
constexpr const char* kUnnamedLog = "Kestrix.log";
constexpr uint32_t kLoginEdited = 1;
constexpr uint32_t kPasswordEdited = 2;

// The working values of the open sheet's pages.
struct SheetState {
    bool open = false;
    uintptr_t instance = 0;
    uint32_t batteryMode = 0;
    uint32_t powerMode = 0;
    bool pointRule = false;
    bool timeoutRule = false;
    uint32_t pointCount = 0;
    uint32_t timeout = 0;
    uint32_t accountEdits = 0;
    bool accountLinks = false;  // attached to the Account page's window
    bool aboutLink = false;     // attached to the About page's window
};
SheetState g;

std::unique_ptr<Hyperlink> g_homePageLink;
std::unique_ptr<Hyperlink> g_registrationLink;
std::unique_ptr<ColorText> g_accountNotice;

std::string HostSetting() {
    std::optional<std::string> host;
    if (TrackerSettings* s = detail::ControllerSettings()) host = s->GetHost();
    return host && !host->empty() ? *host : std::string(kDefaultHost);
}

// Text settings are changed as kestrix config and the daemon's API change them, so the
// sheet refuses what they refuse, and says why.
void TellRefusal(WindowHandle page, const std::string& refusal) {
    if (!refusal.empty()) MessageBox(page, refusal, "Attention", kAttentionFlags);
}
void Store(WindowHandle page, TrackerSettings& s, const char* name, const std::string& value) {
    TellRefusal(page, ChangeSetting(s, name, value));
}

uint32_t CommandId(WParam wp) { return LoWord(wp); }
uint32_t CommandCode(WParam wp) { return HiWord(wp); }

// ---- Mode ------------------------------------------------------------------------------

uint32_t& SelectedModeWord(WindowHandle page) {
    return ComboGetCurSel(GetDlgItem(page, kIdcProfile)) == 0 ? g.batteryMode : g.powerMode;
}

void ShowModeBits(WindowHandle page, uint32_t word) {
    CheckDlgButton(page, kIdcTracker, (word & kModeTrackerBit) != 0);
    CheckDlgButton(page, kIdcLogger, (word & kModeLoggerBit) != 0);
}

void FillMode(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    g.batteryMode = s->GetMode(0);
    g.powerMode = s->GetMode(1);
    const WindowHandle list = GetDlgItem(page, kIdcProfile);
    if (ComboGetCount(list) == 0) {
        ComboAddString(list, "Battery");
        ComboAddString(list, "Power");
    }
    ComboSetCurSel(list, 0);
    ShowModeBits(page, g.batteryMode);
    SetDlgItemText(page, kIdcLogPath, s->GetLogPath().value_or(""));
}

void ChooseLogFolder(WindowHandle page) {
    std::string folder;
    if (!ChooseFolder(g.instance, page, &folder, kFolderBufferChars)) return;
    TrackerSettings* s = detail::ControllerSettings();
    const std::string login = s ? s->GetLogin().value_or("") : "";
    // Without a login yet (one typed on the Account page is stored after this page, and
    // renames the log) the log gets the name the settings give it then.
    const std::string path = folder + (login.empty() ? std::string(kUnnamedLog) : login + ".log");
    // A path the settings would refuse (too long to load back, say) is not shown: the shown
    // path stays.
    const std::string refusal = s ? SettingRefusal(*s, "LOG", path) : std::string();
    TellRefusal(page, refusal);
    if (refusal.empty()) SetDlgItemText(page, kIdcLogPath, path);
}

void ApplyMode(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    s->SetMode(0, g.batteryMode);
    s->SetMode(1, g.powerMode);
    // Only a path the page can hold and the person changed is stored; one longer than that
    // (never made here) is left alone rather than cut.
    const std::string path = GetDlgItemText(page, kIdcLogPath);
    if (!path.empty() && detail::CharCount(path) <= kMaxPathChars && path != s->GetLogPath()) {
        Store(page, *s, "LOG", path);
    }
}

LResult ModePage(WindowHandle page, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case WM_INITDIALOG:
            detail::InitPage(page);
            return 1;
        case WM_SETFOCUS:
            SHSipPreference(page, SIP_UP);
            return 0;
        case WM_KILLFOCUS:
            SHSipPreference(page, SIP_DOWN);
            return 0;
        case WM_COMMAND:
            if (CommandId(wp) == kIdcProfile && CommandCode(wp) == CBN_SELCHANGE) {
                ShowModeBits(page, SelectedModeWord(page));
            } else if (CommandCode(wp) == BN_CLICKED && (CommandId(wp) == kIdcTracker || CommandId(wp) == kIdcLogger)) {
                const uint32_t bit = CommandId(wp) == kIdcTracker ? kModeTrackerBit : kModeLoggerBit;
                uint32_t& word = SelectedModeWord(page);
                word = IsDlgButtonChecked(page, static_cast<int>(CommandId(wp))) ? word | bit : word & ~bit;
            } else if (CommandId(wp) == kIdcChooseFolder && CommandCode(wp) == BN_CLICKED) {
                ChooseLogFolder(page);
            }
            return 0;
        case WM_NOTIFY:
            return detail::AnswerSheet(page, lp, FillMode, ApplyMode);
        default:
            return 0;
    }
}

// ---- Track -----------------------------------------------------------------------------

struct Rule {
    int check;
    int bar;
    int number;
    uint32_t full;      // the value at the trackbar's end (100)
    uint32_t ticked;    // the value a tick shows
};
constexpr Rule kPointRule{kIdcPointCountRule, kIdcPointCountBar, kIdcPointCountText, 500, 500};
constexpr Rule kTimeoutRule{kIdcTimeoutRule, kIdcTimeoutBar, kIdcTimeoutText, 60, 1};

void ShowRule(WindowHandle page, const Rule& rule, bool on, uint32_t value) {
    if (on) CheckDlgButton(page, kIdcAutoTrack, true);
    CheckDlgButton(page, rule.check, on);
    EnableWindow(GetDlgItem(page, rule.number), on);
    EnableWindow(GetDlgItem(page, rule.bar), on);
    const uint64_t shown = std::min<uint64_t>(value, 0x7FFFFFFF);
    SetDlgItemInt(page, rule.number, on ? static_cast<int>(shown) : 0);
    TrackbarSetPos(GetDlgItem(page, rule.bar), static_cast<int>(std::min<uint64_t>(shown * 100 / rule.full, 100)),
                   true);
}

void ShowRules(WindowHandle page) {
    ShowRule(page, kPointRule, g.pointRule, g.pointCount);
    ShowRule(page, kTimeoutRule, g.timeoutRule, g.timeout);
}

void FillTrack(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    g.pointRule = s->HasAutoTrackFlag(kPointCountFlag);
    g.timeoutRule = s->HasAutoTrackFlag(kTimeoutFlag);
    g.pointCount = s->GetAutoTrackPointCount();
    g.timeout = s->GetAutoTrackTimeout();
    ShowRules(page);
}

// What a tick or an untick shows is also what Done stores.
void OnRuleClicked(WindowHandle page, int id) {
    if (id == kIdcAutoTrack) {
        g.pointRule = g.timeoutRule = IsDlgButtonChecked(page, kIdcAutoTrack);
        g.pointCount = kPointRule.ticked;
        g.timeout = kTimeoutRule.ticked;
        ShowRules(page);
    } else if (id == kIdcPointCountRule) {
        g.pointRule = IsDlgButtonChecked(page, kIdcPointCountRule);
        g.pointCount = kPointRule.ticked;
        ShowRule(page, kPointRule, g.pointRule, g.pointCount);
    } else if (id == kIdcTimeoutRule) {
        g.timeoutRule = IsDlgButtonChecked(page, kIdcTimeoutRule);
        g.timeout = kTimeoutRule.ticked;
        ShowRule(page, kTimeoutRule, g.timeoutRule, g.timeout);
    }
}

void OnTrackbar(WindowHandle page, WindowHandle bar) {
    const int id = GetDlgCtrlID(bar);
    if (id != kIdcPointCountBar && id != kIdcTimeoutBar) return;
    const bool points = id == kIdcPointCountBar;
    const Rule& rule = points ? kPointRule : kTimeoutRule;
    // Every code reads where the thumb is: a keyboard step counted as 0 would move the
    // thumb to the start, and the end of the step would then store the bottom value.
    int pos = TrackbarGetPos(bar);
    if (pos < 0 || pos > 100) {
        pos = 100;
        TrackbarSetPos(bar, pos, true);
    } else if (pos == 0) {
        pos = 1;
        TrackbarSetPos(bar, pos, true);
    }
    const uint32_t value = std::clamp<uint32_t>(static_cast<uint32_t>(pos) * rule.full / 100, 1, rule.full);
    (points ? g.pointCount : g.timeout) = value;
    ShowRule(page, rule, points ? g.pointRule : g.timeoutRule, value);
}

void ApplyTrack(WindowHandle) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    s->SetAutoTrackMode((g.timeoutRule ? kTimeoutFlag : 0) + (g.pointRule ? kPointCountFlag : 0));
    s->SetAutoTrackTimeout(g.timeout);
    s->SetAutoTrackPointCount(g.pointCount);
}

LResult TrackPage(WindowHandle page, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case WM_INITDIALOG:
            detail::InitPage(page);
            TrackbarSetRange(GetDlgItem(page, kIdcPointCountBar), 0, 100, false);
            TrackbarSetRange(GetDlgItem(page, kIdcTimeoutBar), 0, 100, false);
            return 1;
        case WM_COMMAND:
            if (CommandCode(wp) == BN_CLICKED) OnRuleClicked(page, static_cast<int>(CommandId(wp)));
            return 0;
        case WM_HSCROLL:
            OnTrackbar(page, static_cast<WindowHandle>(lp));
            return 0;
        case WM_NOTIFY:
            return detail::AnswerSheet(page, lp, FillTrack, ApplyTrack);
        default:
            return 0;
    }
}

// ---- Account ---------------------------------------------------------------------------

void AttachAccountLinks(WindowHandle page) {
    if (g.accountLinks) return;
    g.accountLinks = true;
    const std::string host = HostSetting();
    if (g_registrationLink) AttachHyperlink(*g_registrationLink, page, kIdcRegisterLink, RegistrationAddress(host));
    SetDlgItemText(page, kIdcAccountNotice,
                   "Live tracking needs an account on the tracking server: " + WebSiteAddress(host));
    if (g_accountNotice) AttachColorText(*g_accountNotice, page, kIdcAccountNotice, kNoticeColour);
}

void FillAccount(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    SetDlgItemText(page, kIdcLogin, s->GetLogin().value_or(""));
    SetDlgItemText(page, kIdcPassword, s->GetPasswordHash().value_or(""));
    // Filling the edits notified their changes: only the person's edits count.
    g.accountEdits = 0;
    AttachAccountLinks(page);
}

// True when the page may be left: both fields filled, and what the person typed is text
// the settings take.
bool ValidateAccount(WindowHandle page) {
    const std::string login = GetDlgItemText(page, kIdcLogin, kMaxAccountChars);
    const std::string password = GetDlgItemText(page, kIdcPassword, kMaxAccountChars);
    std::string problem;
    if (login.empty()) {
        problem = "Login should not be empty";
    } else if (password.empty()) {
        problem = "Password should not be empty";
    } else if (TrackerSettings* s = detail::ControllerSettings()) {
        if (g.accountEdits & kLoginEdited) problem = SettingRefusal(*s, "Login", login);
        if (problem.empty() && (g.accountEdits & kPasswordEdited)) problem = SettingRefusal(*s, "Password", password);
    }
    TellRefusal(page, problem);
    return problem.empty();
}

void ApplyAccount(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    if (g.accountEdits & kPasswordEdited) Store(page, *s, "Password", GetDlgItemText(page, kIdcPassword, kMaxAccountChars));
    if (g.accountEdits & kLoginEdited) Store(page, *s, "Login", GetDlgItemText(page, kIdcLogin, kMaxAccountChars));
}

LResult AccountPage(WindowHandle page, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case WM_INITDIALOG:
            detail::InitPage(page);
            EditLimitText(GetDlgItem(page, kIdcLogin), kMaxAccountChars);
            EditLimitText(GetDlgItem(page, kIdcPassword), kMaxAccountChars);
            return 1;
        case WM_SETFOCUS:
            SHSipPreference(page, SIP_UP);
            return 0;
        case WM_KILLFOCUS:
            SHSipPreference(page, SIP_DOWN);
            InvalidateRect(page, nullptr, true);
            return 0;
        case WM_DESTROY:
            g.accountLinks = false;
            return 0;
        case WM_COMMAND:
            if (CommandCode(wp) == EN_CHANGE) {
                if (CommandId(wp) == kIdcLogin) g.accountEdits |= kLoginEdited;
                if (CommandId(wp) == kIdcPassword) g.accountEdits |= kPasswordEdited;
            }
            return 0;
        case WM_NOTIFY:
            return detail::AnswerSheet(page, lp, FillAccount, ApplyAccount, ValidateAccount);
        default:
            return 0;
    }
}

// ---- About -----------------------------------------------------------------------------

// The link is attached once per page window, the first time the page is shown or reset.
void AttachHomePageLink(WindowHandle page) {
    if (g.aboutLink) return;
    g.aboutLink = true;
    if (g_homePageLink) AttachHyperlink(*g_homePageLink, page, kIdcHomePageLink, WebSiteAddress(HostSetting()));
}

LResult AboutPage(WindowHandle page, uint32_t msg, WParam, LParam lp) {
    switch (msg) {
        case WM_INITDIALOG:
            detail::InitPage(page);
            return 1;
        case WM_DESTROY:
            g.aboutLink = false;
            return 0;
        case WM_NOTIFY:
            return detail::AnswerSheet(page, lp, AttachHomePageLink, nullptr);
        default:
            return 0;
    }
}

}  // namespace

std::string WebSiteAddress(const std::string& host) {
    return "http://" + host + ":" + std::to_string(kWebSitePort) + "/";
}
std::string RegistrationAddress(const std::string& host) { return WebSiteAddress(host) + "mobile/register"; }

bool ShowSettingsSheet(uintptr_t instance, WindowHandle owner, int startPage) {
    if (g.open || instance == 0) return false;
    struct PageDef {
        const char* title;
        int templateId;
        DlgProc proc;
    };
    const PageDef defs[] = {
        {"Mode", kDlgModePage, ModePage},          {"GPS", kDlgGpsPortPage, GpsPortPage},
        {"Track", kDlgTrackPage, TrackPage},       {"Account", kDlgAccountPage, AccountPage},
        {"About", kDlgAboutPage, AboutPage},
    };
    PropSheetHeader header;
    header.flags = kSheetFlags;
    header.owner = owner;
    header.instance = instance;
    header.iconId = kSettingsIconId;
    header.caption = "GMRT Settings";
    header.startPage = startPage;
    for (const PageDef& d : defs) {
        const DialogTemplate* tmpl = DialogTemplateById(d.templateId);
        if (!tmpl) return false;
        header.pages.push_back({PSP_USETITLE, instance, tmpl, d.title, d.proc, 0});
    }
    header.callback = [](WindowHandle sheet, uint32_t msg, LParam) {
        if (msg == WM_INITDIALOG) SHInitDialog({SHIDIM_FLAGS, sheet, kSheetShellFlags});
        return 0;
    };
    g = SheetState{};
    g.open = true;
    g.instance = instance;
    const int result = PropertySheet(header);
    g.open = false;
    return result >= 0;
}

void CreateSettingsControls() {
    if (!g_homePageLink) g_homePageLink = std::make_unique<Hyperlink>();
    if (!g_registrationLink) g_registrationLink = std::make_unique<Hyperlink>();
    if (!g_accountNotice) g_accountNotice = std::make_unique<ColorText>();
}

void DestroySettingsControls() {
    g_accountNotice.reset();
    g_registrationLink.reset();
    g_homePageLink.reset();
}

}  // namespace kestrix::ui
