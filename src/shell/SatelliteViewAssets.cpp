// The page's satellite view: the GPS status window (dialog 131) is drawn by the page's
// dialog renderer like any dialog; this part lays it out (the sky plot and the bars scaled
// to the page, the time and position as a short table, the view beside the notification
// on a wide screen) and lists the satellites the dialog carries under the sky plot. Escape
// anywhere in the view is the window's own Escape key.
#include "shell/PageAssets.h"

namespace kestrix::shell {

namespace {

constexpr std::string_view kScript = R"js('use strict';
(function () {
  const post = window.kestrixPost;
  const degrees = (v) => (v === null || v === undefined ? '\u2014' : v + '\u00b0');

  function cell(tag, text, className) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    el.textContent = text;
    return el;
  }

  function makeList() {
    const section = document.createElement('section');
    section.className = 'sat-list';
    const caption = cell('h3', '', 'sat-caption');
    const table = document.createElement('table');
    const head = document.createElement('tr');
    // Long and short column names: the short ones on a phone.
    for (const [long, short, cls] of [['System', 'System', ''], ['ID', 'ID', 'num'], ['Elevation', 'Elev.', 'num'],
      ['Azimuth', 'Azim.', 'num'], ['Signal', 'dB-Hz', 'sig'], ['Used', 'Used', 'used']]) {
      const th = cell('th', '', cls);
      th.scope = 'col';
      th.append(cell('span', long, 'long'), cell('span', short, 'short'));
      head.append(th);
    }
    const thead = document.createElement('thead');
    thead.append(head);
    const body = document.createElement('tbody');
    table.append(thead, body);
    const empty = cell('p', 'No satellites in view.', 'sat-empty');
    section.append(caption, table, empty);
    return { section, caption, table, body, empty, shown: null };
  }

  function row(s) {
    const tr = document.createElement('tr');
    tr.className = s.used ? 'sat-used' : '';
    tr.append(cell('td', s.system), cell('td', String(s.id), 'num'), cell('td', degrees(s.elevation), 'num'),
      cell('td', degrees(s.azimuth), 'num'));
    const signal = cell('td', '', 'sig');
    if (s.snr > 0) {
      const meter = cell('span', '', 'sat-meter');
      meter.style.setProperty('--level', Math.min(100, s.snr * 2) + '%');
      signal.append(meter, cell('span', String(s.snr), 'sat-snr'), cell('span', ' dB-Hz', 'long'));
    } else {
      signal.append(cell('span', '\u2014', 'sat-snr sat-none'));
      signal.title = 'not tracked';
    }
    tr.append(signal, cell('td', s.used ? '\u2713' : '', 'used'));
    if (s.used) tr.lastChild.setAttribute('aria-label', 'used');
    return tr;
  }

  const lists = new WeakMap();
  document.addEventListener('kestrix:dialog', (ev) => {
    const { el, dialog } = ev.detail;
    if (!Array.isArray(dialog.satellites)) return;
    if (!el.classList.contains('satview')) {
      el.classList.add('satview');
      el.addEventListener('keydown', (k) => {
        if (k.key !== 'Escape') return;
        k.preventDefault();
        post('/api/dialog/input', { dialog: dialog.id, event: 'key', key: 27 }, true);
      });
    }
    let list = lists.get(el);
    if (!list) {
      list = makeList();
      lists.set(el, list);
      el.insertBefore(list.section, el.querySelector('.dlg-foot'));
    }
    const key = JSON.stringify(dialog.satellites);
    if (key === list.shown) return;
    list.shown = key;
    const used = dialog.satellites.filter((s) => s.used).length;
    const n = dialog.satellites.length;
    list.caption.textContent = n === 0 ? 'Satellites' : `Satellites: ${n} in view, ${used} used`;
    list.body.replaceChildren(...dialog.satellites.map(row));
    list.table.hidden = n === 0;
    list.empty.hidden = n !== 0;
  });
})();
)js";

constexpr std::string_view kStyle = R"css(
/* ---- the satellite view ---- */
@media (min-width: 64rem) {
  main:has(> .modeless .satview) {
    max-width: 70rem; display: grid; grid-template-columns: minmax(0, 30rem) minmax(0, 1fr);
    column-gap: 1.5rem; align-items: start;
  }
  main:has(> .modeless .satview) > .bubble, main:has(> .modeless .satview) > .no-bubble { grid-column: 1; }
  main:has(> .modeless .satview) > .modeless { grid-column: 2; grid-row: 1 / span 2; margin-top: 0; }
}
.satview .dlg-body { width: 100%; max-width: 21rem; margin: 0 auto; box-sizing: border-box; padding: 0.8rem 1rem 0.5rem; }
.satview .c-image { width: 100%; }
.satview [data-control="1015"] .c-image, .satview .c-image[data-control="1015"] { margin: 0 auto; }
.satview .c-static { font-size: 0.95rem; line-height: 1.5; }
.satview [data-control="1042"], .satview [data-control="1043"], .satview [data-control="1044"] {
  text-align: right; font-variant-numeric: tabular-nums; font-weight: 600;
}
.satview [data-control="1045"], .satview [data-control="1046"], .satview [data-control="1047"] { color: var(--muted); }
.sat-list { padding: 0.3rem 1.1rem 0.9rem; border-top: 1px solid var(--line); }
.sat-caption { margin: 0.5rem 0 0.4rem; font-size: 0.9rem; font-weight: 600; color: var(--muted); }
.sat-list table { width: 100%; border-collapse: collapse; font-size: 0.88rem; font-variant-numeric: tabular-nums; }
.sat-list th {
  text-align: left; font-weight: 600; color: var(--muted); font-size: 0.78rem; text-transform: uppercase;
  letter-spacing: 0.03em; padding: 0.25rem 0.4rem; border-bottom: 1px solid var(--line);
}
.sat-list td { padding: 0.14rem 0.4rem; border-bottom: 1px solid #eef1f4; white-space: nowrap; }
.sat-list .short { display: none; }
.sat-list .num { text-align: right; }
.sat-list .used { text-align: center; }
.sat-list td.used { color: #0000ff; font-weight: 700; }
.sat-list .sig { width: 40%; }
.sat-meter {
  display: inline-block; vertical-align: middle; width: 4.5rem; height: 0.5rem; margin-right: 0.5rem;
  border-radius: 3px; background: linear-gradient(to right, #7f7f7f var(--level), #e4e7eb var(--level));
}
.sat-used .sat-meter { background: linear-gradient(to right, #0000ff var(--level), #e4e7eb var(--level)); }
.sat-snr { display: inline-block; min-width: 1.2em; text-align: right; }
.sat-none { color: var(--muted); }
.sat-empty { margin: 0.3rem 0; color: var(--muted); }
.sat-list [hidden] { display: none; }
@media (max-width: 30rem) {
  .sat-list { padding: 0.3rem 0.6rem 0.8rem; }
  .sat-list th, .sat-list td { padding: 0.18rem 0.25rem; }
  .sat-list .long { display: none; }
  .sat-list .short { display: inline; }
  .sat-list .sig { width: auto; }
  .sat-meter { width: 2.2rem; margin-right: 0.3rem; }
}
)css";

}  // namespace

std::string_view SatelliteViewScript() { return kScript; }
std::string_view SatelliteViewStyle() { return kStyle; }

}  // namespace kestrix::shell
