// The HTML status page shown in the shell's notification bubble: the running mode, the
// fix state, an optional message line, the settings link, the "Trk2Srv" and "Trk2Gpx"
// buttons and the ON/OFF switch. Buttons and the link carry "cmd:<id>" command ids that
// the bubble turns into WM_COMMAND for the hidden main window.
// Pure functions of their inputs, any thread. The message is HTML-escaped (& < >) so a
// text from the server or a file cannot change the page's markup.
#pragma once
#include <cstdint>
#include <string>

namespace kestrix {

// Builds the page from the state bits (Tracker 1, Logger 2, Fix 4), whether a last fix is
// held, and an optional message (nullptr: no message line). out is replaced.
void BuildStatusPage(uint32_t state, bool hasLastFix, const std::string* message, std::string& out);

// & < > become &amp; &lt; &gt;; every other byte is kept.
std::string EscapeHtmlText(const std::string& text);

}  // namespace kestrix
