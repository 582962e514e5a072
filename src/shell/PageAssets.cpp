#include "shell/PageAssets.h"

#include "shell/TodayPage.h"

namespace kestrix::shell {

namespace {

constexpr std::string_view kHtmlHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="kestrix-token" content=")html";

constexpr std::string_view kHtmlTail = R"html(">
<title>Kestrix</title>
<link rel="stylesheet" href="/app.css">
<script src="/app.js" defer></script>
</head>
<body>
<header class="topbar">
  <span class="brand">Kestrix</span>
  <span id="link-state" class="link-state" data-state="connecting">connecting</span>
</header>
<main>
  <section id="bubble" class="bubble" hidden aria-live="polite">
    <div class="bubble-head">
      <img id="bubble-icon" class="bubble-icon" alt="" width="24" height="24" hidden>
      <h1 id="bubble-title" class="bubble-title"></h1>
      <button id="bubble-close" class="bubble-close" type="button" title="Dismiss" aria-label="Dismiss">&times;</button>
    </div>
    <div id="status-page" class="status-page"></div>
  </section>
  <p id="no-bubble" class="no-bubble" hidden>No notification is shown. It comes back at the next change of state.</p>
  <ul id="links" class="links" hidden></ul>
  <p id="error" class="error" role="alert" hidden></p>
</main>
<div id="boxes" class="boxes" hidden></div>
</body>
</html>
)html";

constexpr std::string_view kScript = R"js('use strict';
(function () {
  const token = document.querySelector('meta[name="kestrix-token"]').content;
  const $ = (id) => document.getElementById(id);
  let shownHtml = null;
  let shownBoxes = '';
  let refreshing = false;
  let again = false;

  function showError(text) {
    const el = $('error');
    el.textContent = text || '';
    el.hidden = !text;
  }

  async function post(path, body) {
    try {
      const r = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', 'X-Kestrix-Token': token },
        body: JSON.stringify(body || {}),
      });
      if (!r.ok) {
        let why = r.status + ' ' + r.statusText;
        try { why = (await r.json()).error || why; } catch (e) { /* not JSON */ }
        // A restarted daemon has a new token: this copy of the page is stale.
        if (r.status === 403) why += ' (Kestrix was restarted: reload this page)';
        showError(why);
        return false;
      }
      showError('');
      return true;
    } catch (e) {
      showError('Kestrix does not answer: ' + e.message);
      return false;
    }
  }

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
    const key = JSON.stringify(boxes.map((b) => b.id));
    if (key === shownBoxes) return;
    shownBoxes = key;
    const holder = $('boxes');
    holder.replaceChildren();
    holder.hidden = boxes.length === 0;
    for (const b of boxes) {
      const box = document.createElement('div');
      box.className = 'box';
      box.setAttribute('role', 'alertdialog');
      box.dataset.boxId = b.id;
      const head = document.createElement('div');
      head.className = 'box-caption';
      const mark = document.createElement('span');
      mark.className = 'box-icon box-icon-' + (b.icon || 'none');
      mark.textContent = { error: '\u00d7', question: '?', warning: '!', information: 'i' }[b.icon] || '';
      const caption = document.createElement('span');
      caption.className = 'box-title';
      caption.textContent = b.caption;
      head.append(mark, caption);
      const text = document.createElement('p');
      text.className = 'box-text';
      text.textContent = b.text;
      const row = document.createElement('div');
      row.className = 'box-buttons';
      for (const btn of b.buttons) {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = btn.label;
        button.addEventListener('click', () => post('/api/messagebox/answer', { id: b.id, button: btn.id }));
        row.append(button);
      }
      box.append(head, text, row);
      holder.append(box);
    }
    const first = holder.querySelector('.box:last-child button');
    if (first) first.focus();
  }

  function renderLinks(links) {
    const list = $('links');
    list.replaceChildren();
    for (const url of links || []) {
      const li = document.createElement('li');
      const a = document.createElement('a');
      a.href = url;
      a.target = '_blank';
      a.rel = 'noopener noreferrer';
      a.textContent = 'Open ' + url;
      li.append(a);
      list.append(li);
    }
    list.hidden = list.children.length === 0;
  }

  async function refresh() {
    if (refreshing) { again = true; return; }
    refreshing = true;
    try {
      do {
        again = false;
        const [nr, br] = await Promise.all([fetch('/api/notification'), fetch('/api/messageboxes')]);
        renderBubble(nr.ok ? await nr.json() : null);
        const boxes = await br.json();
        renderBoxes(boxes.messageboxes || []);
        renderLinks(boxes.links);
      } while (again);
    } catch (e) {
      showError('Kestrix does not answer: ' + e.message);
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
  events.addEventListener('change', refresh);
  refresh();
})();
)js";

constexpr std::string_view kStyle = R"css(:root {
  --ink: #1f2933;
  --muted: #616e7c;
  --paper: #f4f5f7;
  --card: #ffffff;
  --line: #d9dee4;
  --accent: #2f6f8f;
  --danger: #b42318;
  font-family: system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif;
  color: var(--ink);
  background: var(--paper);
}
body { margin: 0; }
.topbar {
  display: flex; align-items: center; justify-content: space-between;
  padding: 0.6rem 1.2rem; background: var(--accent); color: #fff;
}
.brand { font-weight: 600; letter-spacing: 0.04em; }
.link-state { font-size: 0.8rem; opacity: 0.9; }
.link-state::before {
  content: ""; display: inline-block; width: 0.55rem; height: 0.55rem; border-radius: 50%;
  margin-right: 0.4rem; background: #f5c542;
}
.link-state[data-state="live"]::before { background: #6fdc8c; }
.link-state[data-state="lost"]::before { background: #ff8b7e; }
main { max-width: 32rem; margin: 1.5rem auto; padding: 0 1rem; }
.bubble {
  background: var(--card); border: 1px solid var(--line); border-radius: 10px;
  box-shadow: 0 2px 10px rgba(31, 41, 51, 0.08); overflow: hidden;
}
.bubble-head {
  display: flex; align-items: center; gap: 0.6rem;
  padding: 0.55rem 0.8rem; border-bottom: 1px solid var(--line); background: #fafbfc;
}
.bubble-icon { width: 24px; height: 24px; }
.bubble-title { flex: 1; margin: 0; font-size: 1rem; font-weight: 600; }
.bubble-close {
  border: 0; background: transparent; font-size: 1.4rem; line-height: 1; cursor: pointer;
  color: var(--muted); padding: 0 0.3rem; border-radius: 4px;
}
.bubble-close:hover, .bubble-close:focus-visible { color: var(--ink); background: var(--line); }
.status-page { padding: 0.8rem; background: whitesmoke; }
.status-page table { border-collapse: collapse; }
.status-page input[type="button"] {
  white-space: pre-line; font: inherit; font-size: 0.9rem; cursor: pointer;
  border: 1px solid #9aa5b1; border-radius: 6px; background: #fff; padding: 0.2rem;
}
.status-page input[type="button"]:hover { background: #eef2f6; }
.status-page a { color: var(--accent); }
.status-page hr { border: 0; border-top: 1px solid var(--line); }
.no-bubble { color: var(--muted); text-align: center; }
.links { padding-left: 1.2rem; }
.error {
  color: var(--danger); background: #fdecea; border: 1px solid #f5c2bc;
  border-radius: 6px; padding: 0.5rem 0.8rem;
}
.boxes {
  position: fixed; inset: 0; display: flex; align-items: center; justify-content: center;
  background: rgba(31, 41, 51, 0.35);
}
.boxes[hidden] { display: none; }
.box {
  position: absolute; width: min(26rem, 90vw); background: var(--card); border-radius: 10px;
  box-shadow: 0 10px 30px rgba(0, 0, 0, 0.25); overflow: hidden;
}
.box-caption {
  display: flex; align-items: center; gap: 0.5rem; padding: 0.6rem 0.9rem;
  background: var(--accent); color: #fff; font-weight: 600;
}
.box-icon {
  display: inline-flex; align-items: center; justify-content: center;
  width: 1.3rem; height: 1.3rem; border-radius: 50%; background: #fff; color: var(--accent);
  font-size: 0.85rem; font-weight: 700;
}
.box-icon-none { display: none; }
.box-icon-error { color: var(--danger); }
.box-icon-warning { color: #b54708; }
.box-text { margin: 0; padding: 1rem 0.9rem; white-space: pre-wrap; line-height: 1.4; }
.box-buttons { display: flex; justify-content: flex-end; gap: 0.5rem; padding: 0 0.9rem 0.9rem; }
.box-buttons button {
  min-width: 5.5rem; padding: 0.4rem 0.9rem; font: inherit; cursor: pointer;
  border: 1px solid var(--accent); border-radius: 6px; background: var(--accent); color: #fff;
}
.box-buttons button + button { background: #fff; color: var(--accent); }
)css";

}  // namespace

std::string PageHtml(std::string_view token) {
    std::string page;
    page.reserve(kHtmlHead.size() + token.size() + kHtmlTail.size());
    page.append(kHtmlHead).append(token).append(kHtmlTail);
    return page;
}

// The home-screen row's script and style follow the page's own (TodayPage.cpp).
std::string_view PageScript() {
    static const std::string script = std::string(kScript) + std::string(TodayRowScript());
    return script;
}
std::string_view PageStyle() {
    static const std::string style = std::string(kStyle) + std::string(TodayRowStyle());
    return style;
}

}  // namespace kestrix::shell
