'use strict';
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
