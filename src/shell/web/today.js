'use strict';
// ---- the home-screen item row -------------------------------------------------------------
(function () {
  const post = window.kestrixPost;
  const strip = document.createElement('section');
  strip.id = 'today';
  strip.className = 'today';
  strip.hidden = true;
  strip.setAttribute('aria-label', 'Home screen');
  const row = document.createElement('div');
  row.id = 'today-row';
  row.className = 'today-row';
  row.tabIndex = 0;
  row.setAttribute('role', 'toolbar');
  row.setAttribute('aria-label', 'Kestrix: tracker, logger, settings and GPS signal');
  strip.append(row);
  document.querySelector('main').prepend(strip);

  let shownSvg = null;
  let width = 480;  // the row's width in item pixels, from its painting
  let busy = false;
  let again = false;

  async function refresh() {
    if (busy) { again = true; return; }
    busy = true;
    try {
      do {
        again = false;
        const r = await fetch('/api/today');
        if (!r.ok) {
          strip.hidden = true;
          shownSvg = null;
          continue;
        }
        const item = await r.json();
        strip.hidden = false;
        row.dataset.selected = String(item.selected);
        if (item.svg !== shownSvg) {
          // The drawing layer's own SVG (its texts escaped); the content policy keeps it inert.
          row.innerHTML = item.svg;
          shownSvg = item.svg;
          const svg = row.querySelector('svg');
          if (svg) {
            width = (svg.viewBox && svg.viewBox.baseVal && svg.viewBox.baseVal.width) || width;
            // Scaled by the style sheet to the strip's width, its aspect kept.
            svg.removeAttribute('width');
            svg.removeAttribute('height');
          }
        }
      } while (again);
    } catch (e) {
      // The rest of the page reports a daemon that does not answer.
    } finally {
      busy = false;
    }
  }

  row.addEventListener('click', (ev) => {
    const box = row.getBoundingClientRect();
    if (box.width <= 0) return;
    const x = Math.floor((ev.clientX - box.left) * width / box.width);
    post('/api/today/tap', { x: Math.min(width - 1, Math.max(0, x)) });
  });

  // Past either end the selection leaves the item, and the focus leaves the row with it.
  function leave(step) {
    const all = [...document.querySelectorAll('a[href], button, input, select, textarea, [tabindex]')]
      .filter((el) => el.tabIndex >= 0 && !el.disabled && el.getClientRects().length > 0);
    const next = all[all.indexOf(row) + step];
    if (next) next.focus(); else row.blur();
  }

  const ARROWS = { ArrowLeft: 37, ArrowUp: 38, ArrowRight: 39, ArrowDown: 40 };
  row.addEventListener('keydown', async (ev) => {
    if (ev.altKey || ev.ctrlKey || ev.metaKey) return;
    if (ev.key === 'Enter') {
      ev.preventDefault();
      post('/api/today/key', { message: 'action' });
      return;
    }
    const key = ARROWS[ev.key];
    if (!key) return;
    ev.preventDefault();
    const answer = await post('/api/today/key', { message: 'navigation', key });
    if (answer && answer.result === 0) leave(key === 38 ? -1 : 1);
  });

  // The key that brought the focus: Tab comes from above (Down), Shift+Tab from below (Up).
  // A click brings it too, and then the tap is what counts.
  let lastKey = null;
  document.addEventListener('keydown', (ev) => { lastKey = ev; }, true);
  document.addEventListener('pointerdown', () => { lastKey = null; }, true);
  row.addEventListener('focus', () => {
    const k = lastKey;
    lastKey = null;
    if (k && k.key === 'Tab') post('/api/today/key', { message: 'selection', key: k.shiftKey ? 38 : 40 });
  });

  document.addEventListener('kestrix:change', refresh);
  refresh();
})();
