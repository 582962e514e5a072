#include "core/StatusPage.h"

#include <cstdio>

#include "base/Listeners.h"
#include "platform/Text.h"

namespace kestrix {

namespace {

// printf-style into a buffer of exactly the length needed, then appended.
template <class... Args>
void AppendFormat(std::string& out, const char* format, Args... args) {
    int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) return;
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(buf.data(), buf.size(), format, args...);
    buf.resize(static_cast<size_t>(n));
    out += buf;
}

}  // namespace

std::string EscapeHtmlText(const std::string& text) { return platform::EscapeMarkup(text); }

void BuildStatusPage(uint32_t state, bool hasLastFix, const std::string* message, std::string& out) {
    out.clear();
    out += "<html>";
    out += "<body bgColor=\"whitesmoke\">";
    out += "<table>";
    out += "<tr>";
    out += "<td style=\"width:55%\" align=\"left\">";
    bool active = true;
    const bool tracker = (state & kModeTracker) != 0;
    const bool logger = (state & kModeLogger) != 0;
    if (tracker && logger) {
        out += "<b><font size=\"2\" color=\"green\">Mode: Tracker/Logger</font></b>";
    } else if (tracker) {
        out += "<b><font size=\"2\" color=\"green\">Mode: Tracker</font></b>";
    } else if (logger) {
        out += "<b><font size=\"2\" color=\"green\">Mode: Logger</font></b>";
    } else {
        out += "<b><font size=\"2\" color=\"red\">Mode: Disconnected</font></b>";
        active = false;
    }
    out += "<br/>";
    out += "</td>";
    out += "<td style=\"width:45%\" align=\"right\">";
    if ((state & kModeFix) != 0 && hasLastFix) {
        out += "<b><font size=\"2\" color=\"green\">GPS position fixed</font></b>";
    } else {
        out += "<b><font size=\"2\" color=\"red\">GPS fix was lost...</font></b>";
    }
    out += "<br/>";
    out += "</td>";
    out += "</tr>";
    out += "</table>";
    out += "<font size=\"2\"><u>Change Your </u><a tabindex =\"2\" href=\"cmd:40004\">Settings</a></font>";
    out += "<br/>";
    if (message) {
        // Appended rather than formatted so a message byte is never read as a format.
        out += "<font size=\"2\" color=\"red\">Message: ";
        out += EscapeHtmlText(*message);
        out += "</font><br/>";
        out += "<br/>";
    }
    out += "<hr/>";
    out += "<table style=\"width:16em\">";
    out += "<tr>";
    out += "<td style=\"width:55%\">";
    out += "<table style=\"width:8em\">";
    out += "<tr>";
    out += "<td align=\"center\" valign=\"middle\">";
    out += "<input style=\"width:6em\" type=\"button\" tabindex = \"3\"  value=\"Trk2Srv\" name=\"cmd:40007\"/>";
    out += "</td>";
    out += "</tr>";
    out += "<tr>";
    out += "<td align=\"center\" valign=\"middle\">";
    out += "<input style=\"width:6em\" type=\"button\" tabindex = \"4\" value=\"Trk2Gpx\" name=\"cmd:40006\" />";
    out += "</td>";
    out += "<td WIDTH=\"50%\"  align=\"center\">";
    out += "</td>";
    out += "</tr>";
    out += "</table>";
    out += "</td>";
    out += "<td style=\"width:45%\" align=\"right\" valign=\"middle\">";
    if (active) {
        AppendFormat(out,
                     "<input style=\"height:3em;width:6em;text-align:center;\" type=\"button\" tabindex = \"1\" "
                     "value=\"Switch&#10OFF\" name=\"cmd:%d\" />",
                     40002);
    } else {
        AppendFormat(out,
                     "<input style=\"height:3em;width:6em;text-align:center;\" type=\"button\" tabindex = \"1\"  "
                     "value=\"Switch&#10ON\" name=\"cmd:%d\" />",
                     40001);
    }
    out += "</td>";
    out += "</tr>";
    out += "</table>";
    out += "</body>";
    out += "</html>";
}

}  // namespace kestrix
