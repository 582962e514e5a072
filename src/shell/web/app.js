'use strict';
(function () {
  const token = document.querySelector('meta[name="kestrix-token"]').content;
  const $ = (id) => document.getElementById(id);
  const main = document.querySelector('main');
  let shownHtml = null;
  let shownBoxes = '';
  let boxesOpen = false;
  let refreshing = false;
  let again = false;

  function showError(text) {
    const el = $('error');
    el.textContent = text || '';
    el.hidden = !text;
  }

  // A POST with the page's token: the answer's JSON object when it succeeded, else null
  // with the reason shown (a 404 for a dialog that has just closed is only a stale page,
  // which the next refresh mends, when quiet404 says so).
  async function post(path, body, quiet404) {
    try {
      const r = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', 'X-Kestrix-Token': token },
        body: JSON.stringify(body || {}),
      });
      let answer = null;
      try { answer = await r.json(); } catch (e) { /* not JSON */ }
      if (!r.ok) {
        let why = (answer && answer.error) || r.status + ' ' + r.statusText;
        // A restarted daemon has a new token: this copy of the page is stale.
        if (r.status === 403) why += ' (Kestrix was restarted: reload this page)';
        if (!(quiet404 && r.status === 404)) showError(why);
        return null;
      }
      showError('');
      return answer || {};
    } catch (e) {
      showError('Kestrix does not answer: ' + e.message);
      return null;
    }
  }
  // The parts of the page that follow (the home-screen row, the satellite view) post through
  // this helper, and hear of every change through a 'kestrix:change' event on the document.
  window.kestrixPost = post;

  // ---- input to dialogs ------------------------------------------------------------------
  // Input goes out one request at a time, in the order the person made it, so the last
  // keystroke in an edit always reaches the dialog before a click on Done. While a
  // control's own input is on its way, and until a state fetched after it was handled
  // comes back, the state shown for it is not put back over what the person is doing: a
  // fetch under way when the input was sent brings the control as it was before.
  let chain = Promise.resolve();
  const pending = new Map();  // control key -> requests queued or under way
  const settling = new Map();  // control key -> the first fetch that sees its input handled
  let fetches = 0;  // fetches of the state started so far
  function enqueue(make, key) {
    if (key) pending.set(key, (pending.get(key) || 0) + 1);
    const run = chain.then(() => {
      const body = typeof make === 'function' ? make() : make;
      return post('/api/dialog/input', body, true);
    });
    chain = run.catch(() => null);
    run.finally(() => {
      if (key) {
        const n = pending.get(key) - 1;
        if (n > 0) {
          pending.set(key, n);
        } else {
          pending.delete(key);
          settling.set(key, fetches + 1);
        }
      }
      refresh();
    });
    return run;
  }

  // Typing is sent once the person pauses, when the edit loses the focus, on Enter, and
  // before any other input.
  const TYPING_PAUSE_MS = 250;
  const typing = new Map();  // control key -> {body, timer}
  function typed(key, dialog, control, text) {
    const old = typing.get(key);
    if (old) clearTimeout(old.timer);
    typing.set(key, {
      body: { dialog, control, event: 'text', text },
      timer: setTimeout(() => sendTyping(key), TYPING_PAUSE_MS),
    });
  }
  function sendTyping(key) {
    const t = typing.get(key);
    if (!t) return;
    clearTimeout(t.timer);
    typing.delete(key);
    enqueue(t.body, key);
  }
  function flushTyping() {
    for (const key of [...typing.keys()]) sendTyping(key);
  }
  function act(body, key) {
    flushTyping();
    return enqueue(body, key);
  }

  // A dragged trackbar sends where its thumb is, at most one request waiting at a time,
  // and where it was let go.
  const dragging = new Set();
  const thumbAt = new Map();
  const thumbQueued = new Set();
  function scrolled(key, dialog, control, pos, released) {
    thumbAt.set(key, pos);
    if (released) {
      act(() => ({ dialog, control, event: 'scroll', pos: thumbAt.get(key), code: 'endtrack' }), key);
      return;
    }
    if (thumbQueued.has(key)) return;
    thumbQueued.add(key);
    act(() => {
      thumbQueued.delete(key);
      return { dialog, control, event: 'scroll', pos: thumbAt.get(key), code: 'thumbtrack' };
    }, key);
  }

  function busy(key) {
    return typing.has(key) || pending.has(key) || settling.has(key) || dragging.has(key);
  }

  // The click on a link is the person's gesture, so its page may open in a new tab.
  function openLinks(answer) {
    for (const url of (answer && answer.opened) || []) {
      if (/^https?:\/\//i.test(url)) window.open(url, '_blank', 'noopener');
    }
  }

  // ---- drawing dialogs from their state --------------------------------------------------
  const views = new Map();  // dialog id -> view
  let topDialog = null;

  function node(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  function createView(d) {
    const el = node('section', 'dlg');
    el.setAttribute('role', 'dialog');
    el.tabIndex = -1;
    el.dataset.dialogId = d.id;
    const head = node('header', 'dlg-head');
    const title = node('h2', 'dlg-title');
    title.id = 'dlg-title-' + d.id;
    el.setAttribute('aria-labelledby', title.id);
    head.append(title);
    const tabs = node('div', 'dlg-tabs');
    tabs.setAttribute('role', 'tablist');
    const body = node('div', 'dlg-body');
    const foot = node('footer', 'dlg-foot');
    const cancel = node('button', 'dlg-cancel', 'Cancel');
    const done = node('button', 'dlg-done', 'Done');
    cancel.type = done.type = 'button';
    cancel.addEventListener('click', () => act({ dialog: d.id, event: 'cancel' }));
    done.addEventListener('click', () => act({ dialog: d.id, event: 'done' }));
    foot.append(cancel, done);
    el.append(head, tabs, body, foot);
    el.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape' && !cancel.hidden) {
        ev.preventDefault();
        cancel.click();
      }
    });
    return { el, title, tabs, body, foot, done, cancel, pagesKey: null, layoutKey: null, controls: [] };
  }

  function updateView(view, d) {
    view.el.setAttribute('aria-modal', d.modal ? 'true' : 'false');
    view.el.classList.toggle('dlg-modeless', !d.modal);
    view.title.textContent = d.caption || 'Kestrix';
    const pagesKey = JSON.stringify(d.pages || null);
    if (pagesKey !== view.pagesKey) {
      view.pagesKey = pagesKey;
      view.tabs.replaceChildren();
      (d.pages || []).forEach((title, index) => {
        const tab = node('button', '', title);
        tab.type = 'button';
        tab.setAttribute('role', 'tab');
        tab.addEventListener('click', () => act({ dialog: d.id, event: 'page', index }));
        view.tabs.append(tab);
      });
    }
    view.tabs.hidden = !d.pages;
    [...view.tabs.children].forEach((tab, i) => tab.setAttribute('aria-selected', String(i === d.page)));
    view.done.hidden = !d.doneButton;
    view.cancel.hidden = !d.cancelButton;
    view.foot.hidden = !d.doneButton && !d.cancelButton;

    const layoutKey = JSON.stringify([d.page, d.doneButton, d.cancelButton,
      d.controls.map((c) => [c.id, c.type, c.visible, c.rect])]);
    if (layoutKey !== view.layoutKey) {
      view.layoutKey = layoutKey;
      const active = document.activeElement;
      const focusKey = active && view.body.contains(active) ? active.dataset.key : null;
      view.controls = [];
      view.body.replaceChildren(layOut(view, d));
      view.body.scrollTop = 0;
      d.controls.forEach((c, i) => view.controls[i] && view.controls[i].update(c));
      const back = focusKey && view.body.querySelector('[data-key="' + focusKey + '"]');
      if (back) back.focus();
    } else {
      d.controls.forEach((c, i) => view.controls[i] && view.controls[i].update(c));
    }
    // Views of particular dialogs (the satellite view below) add to the drawn dialog.
    document.dispatchEvent(new CustomEvent('kestrix:dialog', { detail: { el: view.el, dialog: d } }));
  }

  // The controls flow in rows: controls whose rectangles share a band of the template
  // stand side by side, as wide (in per cent) as the template makes them, so the dialog
  // reads as it was laid out and still fits a phone. A group box frames the controls whose
  // centre lies inside it.
  function layOut(view, d) {
    const items = [];
    d.controls.forEach((c, i) => {
      // The footer's Done and Cancel stand for the dialog's own OK and Cancel buttons.
      const footerTwin = c.type === 'button' && ((c.id === 1 && d.doneButton) || (c.id === 2 && d.cancelButton));
      if (!c.visible || footerTwin) return;
      const ctl = makeControl(d, c, i);
      ctl.el.dataset.control = c.id;
      view.controls[i] = ctl;
      items.push({ c, ctl, r: c.rect, children: [] });
    });
    const area = (r) => r.width * r.height;
    const within = (r, g) => {
      const x = r.x + r.width / 2;
      const y = r.y + r.height / 2;
      return x > g.x && x < g.x + g.width && y > g.y && y < g.y + g.height;
    };
    const groups = items.filter((it) => it.c.type === 'group');
    const top = [];
    for (const it of items) {
      let owner = null;
      for (const g of groups) {
        const fits = g !== it && area(g.r) > area(it.r) && within(it.r, g.r);
        if (fits && (!owner || area(g.r) < area(owner.r))) owner = g;
      }
      (owner ? owner.children : top).push(it);
    }
    const frame = document.createDocumentFragment();
    flow(frame, top);
    return frame;
  }

  const percent = (x) => (100 * x).toFixed(3) + '%';

  function flow(holder, items) {
    if (items.length === 0) return;
    const left = Math.min(...items.map((it) => it.r.x));
    const right = Math.max(...items.map((it) => it.r.x + it.r.width));
    const width = Math.max(1, right - left);
    const rows = [];
    for (const it of [...items].sort((a, b) => a.r.y - b.r.y || a.r.x - b.r.x)) {
      const row = rows[rows.length - 1];
      if (row && it.r.y < row.bottom - 4) {
        row.items.push(it);
        row.bottom = Math.max(row.bottom, it.r.y + it.r.height);
      } else {
        rows.push({ top: it.r.y, bottom: it.r.y + it.r.height, items: [it] });
      }
    }
    let above = null;
    for (const row of rows) {
      const line = node('div', 'row');
      if (above !== null) {
        line.style.marginTop = Math.min(1.25, Math.max(0.4, (row.top - above) / 20)).toFixed(2) + 'rem';
      }
      above = row.bottom;
      let x = left;
      let label = null;
      for (const it of row.items.sort((a, b) => a.r.x - b.r.x)) {
        const cell = it.ctl.el;
        cell.classList.add('cell');
        cell.style.marginLeft = percent(Math.max(0, it.r.x - x) / width);
        cell.style.width = percent(Math.min(it.r.width, right - it.r.x) / width);
        x = Math.max(x, it.r.x + it.r.width);
        if (it.c.type === 'group') flow(it.ctl.inner, it.children);
        // A plain static just before a field names it.
        if (label && it.ctl.field) it.ctl.field.setAttribute('aria-labelledby', label.id);
        label = it.c.type === 'static' && !it.c.notify ? it.ctl.el : null;
        line.append(cell);
      }
      holder.append(line);
    }
  }

  function makeControl(d, c, i) {
    const key = d.id + '-' + d.page + '-' + (c.id === -1 ? 'n' + i : c.id);
    const input = (body) => act(Object.assign({ dialog: d.id, control: c.id }, body), key);
    switch (c.type) {
      case 'static': {
        const el = node('div', 'c-static');
        el.id = 'c-' + key;
        if (c.notify) {
          el.tabIndex = 0;
          el.dataset.key = key;
          el.addEventListener('mouseenter', () => input({ event: 'hover' }));
          el.addEventListener('mouseleave', () => input({ event: 'leave' }));
          const click = async () => openLinks(await input({ event: 'click' }));
          el.addEventListener('click', click);
          el.addEventListener('keydown', (ev) => {
            if (ev.key === 'Enter' || ev.key === ' ') {
              ev.preventDefault();
              click();
            }
          });
        }
        return {
          el,
          update(s) {
            el.textContent = s.text;
            // Black is the text colour a static has when nobody sets one.
            el.style.color = s.color && s.color !== '#000000' ? s.color : '';
            el.classList.toggle('underline', !!s.underline);
            el.classList.toggle('c-link', s.cursor === 'hand');
            if (s.cursor === 'hand') el.setAttribute('role', 'link'); else el.removeAttribute('role');
            el.classList.toggle('disabled', !s.enabled);
          },
        };
      }
      case 'group': {
        const el = node('fieldset', 'c-group');
        const legend = node('legend');
        const inner = node('div', 'group-body');
        el.append(legend, inner);
        return {
          el,
          inner,
          update(s) {
            legend.textContent = s.text;
            legend.hidden = !s.text;
            el.disabled = !s.enabled;
          },
        };
      }
      case 'button': {
        const el = node('button', 'c-button');
        el.type = 'button';
        el.dataset.key = key;
        el.addEventListener('click', () => input({ event: 'click' }));
        return {
          el,
          update(s) {
            el.textContent = s.text;
            el.disabled = !s.enabled;
          },
        };
      }
      case 'check': {
        const el = node('label', 'c-check');
        const box = node('input');
        box.type = 'checkbox';
        box.dataset.key = key;
        const text = node('span');
        el.append(box, text);
        box.addEventListener('click', () => input({ event: 'click' }));
        return {
          el,
          update(s) {
            text.textContent = s.text;
            if (!busy(key)) box.checked = !!s.checked;
            box.disabled = !s.enabled;
            el.classList.toggle('disabled', !s.enabled);
          },
        };
      }
      case 'list': {
        const el = node('select', 'c-list');
        el.dataset.key = key;
        let itemsKey = null;
        el.addEventListener('change', () => input({ event: 'select', index: el.selectedIndex }));
        return {
          el,
          field: el,
          update(s) {
            const k = JSON.stringify(s.items);
            if (k !== itemsKey) {
              itemsKey = k;
              el.replaceChildren(...s.items.map((t) => new Option(t)));
            }
            if (!busy(key)) el.selectedIndex = s.selected;
            el.disabled = !s.enabled;
          },
        };
      }
      case 'edit':
      case 'password': {
        const el = node('input', 'c-edit');
        const secret = c.type === 'password';
        el.type = secret ? 'password' : 'text';
        el.autocomplete = secret ? 'new-password' : 'off';
        el.spellcheck = false;
        el.dataset.key = key;
        // A password edit's text never leaves the daemon: the page shows as many dots, and
        // the first keystroke replaces them all.
        let stand = false;
        el.addEventListener('input', (ev) => {
          if (stand) {
            el.value = ev.inputType && ev.inputType.startsWith('insert') ? ev.data || '' : '';
            stand = false;
          }
          typed(key, d.id, c.id, el.value);
        });
        el.addEventListener('focus', () => { if (stand) el.select(); });
        el.addEventListener('blur', flushTyping);
        el.addEventListener('keydown', (ev) => { if (ev.key === 'Enter') flushTyping(); });
        return {
          el,
          field: el,
          update(s) {
            el.disabled = !s.enabled;
            if (busy(key)) return;
            if (!secret) {
              if (el.value !== s.text) el.value = s.text;
            } else if (el.value.length !== s.length) {
              el.value = '*'.repeat(s.length);
              stand = true;
            }
          },
        };
      }
      case 'trackbar': {
        const el = node('input', 'c-range');
        el.type = 'range';
        el.dataset.key = key;
        const release = () => dragging.delete(key);
        el.addEventListener('pointerdown', () => dragging.add(key));
        el.addEventListener('pointerup', release);
        el.addEventListener('lostpointercapture', release);
        el.addEventListener('input', () => scrolled(key, d.id, c.id, Number(el.value), false));
        el.addEventListener('change', () => {
          release();
          scrolled(key, d.id, c.id, Number(el.value), true);
        });
        return {
          el,
          field: el,
          update(s) {
            el.min = s.min;
            el.max = s.max;
            if (!busy(key)) el.value = s.pos;
            el.disabled = !s.enabled;
          },
        };
      }
      case 'tree': {
        const el = node('div', 'c-tree');
        el.setAttribute('role', 'tree');
        // As tall as the template makes it, so the dialog keeps its size while folders open.
        el.style.height = 'min(' + (c.rect.height / 20).toFixed(2) + 'rem, 45vh)';
        let shown = null;
        const expand = (item) => input({ event: item.expanded ? 'collapse' : 'expand', item: item.item });
        const list = (items, selected) => {
          const ul = node('ul');
          ul.setAttribute('role', 'group');
          for (const item of items) {
            const li = node('li');
            li.setAttribute('role', 'treeitem');
            li.setAttribute('aria-selected', String(item.item === selected));
            const row = node('div', 't-row');
            const toggle = node('button', 't-toggle');
            toggle.type = 'button';
            toggle.tabIndex = -1;
            if (item.hasChildren || item.children.length > 0) {
              li.setAttribute('aria-expanded', String(item.expanded));
              toggle.textContent = item.expanded ? '\u25be' : '\u25b8';
              toggle.setAttribute('aria-label', (item.expanded ? 'Collapse ' : 'Expand ') + item.text);
              toggle.addEventListener('click', () => expand(item));
            } else {
              toggle.classList.add('t-leaf');
              toggle.disabled = true;
            }
            const label = node('button', 't-label', item.text);
            label.type = 'button';
            label.dataset.key = key + '-' + item.item;
            label.addEventListener('click', () => input({ event: 'treeselect', item: item.item }));
            label.addEventListener('dblclick', () => expand(item));
            label.addEventListener('keydown', (ev) => {
              if ((ev.key === 'ArrowRight' && !item.expanded) || (ev.key === 'ArrowLeft' && item.expanded)) {
                ev.preventDefault();
                expand(item);
              }
            });
            row.append(toggle, label);
            li.append(row);
            if (item.expanded && item.children.length > 0) li.append(list(item.children, selected));
            ul.append(li);
          }
          return ul;
        };
        return {
          el,
          update(s) {
            el.classList.toggle('disabled', !s.enabled);
            el.inert = !s.enabled;
            const k = JSON.stringify([s.items, s.selected]);
            if (k === shown) return;
            shown = k;
            const active = document.activeElement;
            const focusKey = active && el.contains(active) ? active.dataset.key : null;
            el.replaceChildren(list(s.items, s.selected));
            const back = focusKey && el.querySelector('[data-key="' + focusKey + '"]');
            if (back) back.focus();
          },
        };
      }
      default: {  // an image: what the control painted
        const el = node('img', 'c-image');
        el.alt = '';
        return {
          el,
          update(s) {
            const src = 'data:image/svg+xml;charset=utf-8,' + encodeURIComponent(s.svg || '');
            if (el.getAttribute('src') !== src) el.setAttribute('src', src);
          },
        };
      }
    }
  }

  function place(holder, list) {
    list.forEach((d, i) => {
      let view = views.get(d.id);
      if (!view) {
        view = createView(d);
        views.set(d.id, view);
      }
      updateView(view, d);
      if (holder.children[i] !== view.el) holder.insertBefore(view.el, holder.children[i] || null);
    });
  }

  function renderDialogs(list) {
    const ids = new Set(list.map((d) => d.id));
    for (const [id, view] of views) {
      if (!ids.has(id)) {
        view.el.remove();
        views.delete(id);
      }
    }
    const modal = list.filter((d) => d.modal);
    const modeless = list.filter((d) => !d.modal);
    place($('dialogs'), modal);
    place($('modeless'), modeless);
    $('dialogs').hidden = modal.length === 0;
    $('modeless').hidden = modeless.length === 0;
    // Only the dialog on top takes input; the ones under it show through.
    modal.forEach((d, i) => {
      const view = views.get(d.id);
      view.el.style.setProperty('--depth', String(i));
      view.el.inert = !d.enabled || i < modal.length - 1;
    });
    modeless.forEach((d) => { views.get(d.id).el.inert = !d.enabled; });
    main.inert = modal.length > 0 || boxesOpen;
    $('dialogs').inert = boxesOpen;
    const top = modal.length > 0 ? modal[modal.length - 1].id : null;
    if (top !== topDialog) {
      topDialog = top;
      if (top !== null && !boxesOpen) {
        const el = views.get(top).el;
        const first = el.querySelector('.dlg-body input:enabled, .dlg-body select:enabled, .dlg-body button:enabled');
        (first || el).focus();
      }
    }
  }

  // ---- the notification, message boxes and links -----------------------------------------

  function renderBubble(n) {
    const bubble = $('bubble');
    if (!n) {
      bubble.hidden = true;
      $('no-bubble').hidden = false;
      shownHtml = null;
      return;
    }
    $('no-bubble').hidden = true;
    bubble.hidden = false;
    $('bubble-title').textContent = n.title;
    const icon = $('bubble-icon');
    if (n.icon > 0) {
      const src = '/resources/' + n.icon + '.svg';
      if (icon.getAttribute('src') !== src) icon.setAttribute('src', src);
      icon.hidden = false;
    } else {
      icon.hidden = true;
    }
    if (n.html !== shownHtml) {
      // The page is the logic's own HTML; the content policy keeps any script in it inert.
      $('status-page').innerHTML = n.html;
      shownHtml = n.html;
    }
  }

  function renderBoxes(boxes) {
    boxesOpen = boxes.length > 0;
    const key = JSON.stringify(boxes.map((b) => b.id));
    if (key === shownBoxes) return;
    shownBoxes = key;
    const holder = $('boxes');
    holder.replaceChildren();
    holder.hidden = boxes.length === 0;
    for (const b of boxes) {
      const box = node('div', 'box');
      box.setAttribute('role', 'alertdialog');
      box.dataset.boxId = b.id;
      const head = node('div', 'box-caption');
      const mark = node('span', 'box-icon box-icon-' + (b.icon || 'none'),
        { error: '\u00d7', question: '?', warning: '!', information: 'i' }[b.icon] || '');
      head.append(mark, node('span', 'box-title', b.caption));
      const row = node('div', 'box-buttons');
      for (const btn of b.buttons) {
        const button = node('button', '', btn.label);
        button.type = 'button';
        button.addEventListener('click', () => post('/api/messagebox/answer', { id: b.id, button: btn.id }));
        row.append(button);
      }
      box.append(head, node('p', 'box-text', b.text), row);
      holder.append(box);
    }
    const first = holder.querySelector('.box:last-child button');
    if (first) first.focus();
  }

  // Links open in a new tab when they are clicked; the last one opened while this page is
  // open stays offered here in case the browser kept the tab from opening.
  let shownLink = null;
  let closedLink;
  function renderLinks(links) {
    const last = links && links.length > 0 ? links[links.length - 1] : null;
    if (closedLink === undefined) closedLink = last;
    const tray = $('links');
    if (last !== shownLink) {
      shownLink = last;
      const a = $('link');
      a.href = last || '#';
      a.textContent = last || '';
    }
    tray.hidden = !last || last === closedLink;
  }
  $('link-close').addEventListener('click', () => {
    closedLink = shownLink;
    $('links').hidden = true;
  });

  const RETRY_MS = 1000;
  let unanswered = false;  // the last refresh failed and its error is shown
  let retryTimer = null;  // one retry at a time, however many refreshes failed
  async function refresh() {
    if (refreshing) { again = true; return; }
    refreshing = true;
    try {
      do {
        again = false;
        const number = ++fetches;
        const [nr, br, dr] = await Promise.all([fetch('/api/notification'), fetch('/api/messageboxes'),
          fetch('/api/dialogs')]);
        for (const [key, first] of settling) if (first <= number) settling.delete(key);
        // Every answer is read before anything is drawn, so the page never shows a box over
        // a dialog that still takes input, or a dialog without the box opened over it.
        const [bubble, boxes, dialogs] = await Promise.all([nr.ok ? nr.json() : null, br.json(),
          dr.ok ? dr.json() : {}]);
        renderBubble(bubble);
        renderBoxes(boxes.messageboxes || []);
        renderLinks(boxes.links);
        renderDialogs(dialogs.dialogs || []);
        if (unanswered) {
          unanswered = false;
          showError('');
        }
      } while (again);
    } catch (e) {
      // No change event may follow (the daemon is quiet, or it is gone): the page asks
      // again by itself until it is answered.
      unanswered = true;
      showError('Kestrix does not answer: ' + e.message);
      if (retryTimer === null) {
        retryTimer = setTimeout(() => {
          retryTimer = null;
          refresh();
        }, RETRY_MS);
      }
    } finally {
      refreshing = false;
    }
  }

  $('status-page').addEventListener('click', (ev) => {
    const el = ev.target.closest('[name^="cmd:"], [href^="cmd:"]');
    if (!el) return;
    ev.preventDefault();
    const m = /^cmd:(\d+)$/.exec(el.getAttribute('name') || el.getAttribute('href') || '');
    if (m) post('/api/command', { id: Number(m[1]) });
  });
  $('bubble-close').addEventListener('click', () => post('/api/notification/dismiss'));
  window.addEventListener('pointerup', () => dragging.clear());

  const linkState = $('link-state');
  const events = new EventSource('/api/events');
  events.addEventListener('open', () => {
    linkState.dataset.state = 'live';
    linkState.textContent = 'live';
  });
  events.addEventListener('error', () => {
    linkState.dataset.state = 'lost';
    linkState.textContent = 'reconnecting';
  });
  // Change events come as fast as the receiver talks (every sentence repaints the
  // satellite view): the page redraws for them at most four times a second, at once after
  // a quiet spell and then every 250 ms while they keep coming. Input redraws at once.
  const REDRAW_MS = 250;
  let lastRedraw = 0;
  let redrawTimer = null;
  // A new position of the receiver, at most one a second: the map fetches it.
  events.addEventListener('position', () => document.dispatchEvent(new Event('kestrix:position')));
  events.addEventListener('change', () => {
    document.dispatchEvent(new Event('kestrix:change'));
    if (redrawTimer !== null) return;
    redrawTimer = setTimeout(() => {
      redrawTimer = null;
      lastRedraw = Date.now();
      refresh();
    }, Math.max(0, lastRedraw + REDRAW_MS - Date.now()));
  });
  refresh();
})();
