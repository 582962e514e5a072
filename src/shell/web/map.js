'use strict';
// ---- the map: the receiver's position and the logged track ------------------------------
// The position comes from /api/position on every 'position' event (at most one a second);
// the track of the chosen UTC day (or the whole log) from /api/track, fetched again at most
// every 5 seconds while the logger may still be adding to it. Tiles come from the address in
// <meta name="kestrix-tiles">, or none ("off"): the line and the marker need no network.
(function () {
  const $ = (id) => document.getElementById(id);
  const meta = (name) => document.querySelector('meta[name="' + name + '"]').content;
  const TRACK_REFETCH_MS = 5000;
  const AGE_REDRAW_MS = 5000;
  const DAY_MS = 86400000;

  const map = L.map('map', { worldCopyJump: true }).setView([20, 0], 2);
  L.control.scale({ imperial: false }).addTo(map);
  const tiles = meta('kestrix-tiles');
  if (tiles === 'off') {
    $('map').classList.add('map-plain');
  } else {
    L.tileLayer(tiles, { maxZoom: 19, attribution: meta('kestrix-tiles-attribution') }).addTo(map);
  }
  const track = L.featureGroup().addTo(map);
  const marker = L.circleMarker([0, 0], { radius: 8, weight: 3, color: '#ffffff', fillOpacity: 1,
    className: 'position-marker' });
  // The view is fitted to the track once it has one (again after another day is chosen), and
  // centred on the position while there is no track to fit.
  let fitted = false;
  let centred = false;
  // The map keeps the marker in view until the person moves the map.
  let follow = true;
  map.on('dragstart', () => { follow = false; });

  // ---- the position ----
  let position = null;
  function ago(iso) {
    const s = Math.max(0, Math.round((Date.now() - Date.parse(iso)) / 1000));
    if (s < 60) return s + ' s';
    if (s < 3600) return Math.floor(s / 60) + ' min';
    if (s < 2 * DAY_MS / 1000) return Math.floor(s / 3600) + ' h';
    return Math.floor(s / 86400) + ' days';
  }
  function drawPosition() {
    const p = position;
    const state = $('fix-state');
    if (!p || typeof p.lat !== 'number') {
      marker.remove();
      state.dataset.fix = 'none';
      state.textContent = p && p.receiver ? 'Waiting for a fix' : 'Receiver off';
      return;
    }
    marker.setLatLng([p.lat, p.lon]);
    if (!map.hasLayer(marker)) marker.addTo(map);
    marker.setStyle(p.fix ? { fillColor: '#1f7a3d', dashArray: null, fillOpacity: 1 }
      : { fillColor: '#9aa5b1', dashArray: '3 3', fillOpacity: 0.85 });
    const el = marker.getElement();
    if (el) {
      el.dataset.fix = p.fix ? 'fix' : 'lost';
      el.setAttribute('aria-label', `Position ${p.lat.toFixed(6)}, ${p.lon.toFixed(6)}`);
    }
    state.dataset.fix = p.fix ? 'fix' : 'lost';
    state.textContent = p.fix
      ? `Fix \u00b7 ${p.satellitesUsed} satellites \u00b7 ${p.speed.toFixed(0)} km/h`
      : `${p.receiver ? 'No fix' : 'Receiver off'} \u00b7 last fix ${ago(p.time)} ago`;
    if (!centred) {
      map.setView([p.lat, p.lon], 16);
      centred = true;
    } else if (follow && !map.getBounds().pad(-0.1).contains([p.lat, p.lon])) {
      map.panTo([p.lat, p.lon]);
    }
  }
  async function loadPosition() {
    try {
      const r = await fetch('/api/position');
      if (r.ok) position = await r.json();
    } catch (e) {
      return;  // the page's own error line says that Kestrix does not answer
    }
    drawPosition();
  }

  // ---- the track ----
  const daySelect = $('track-day');
  let shownDays = '';
  async function loadDays() {
    try {
      const r = await fetch('/api/track/days');
      if (!r.ok) return;
      const days = (await r.json()).days.slice().reverse();
      const key = JSON.stringify(days);
      if (key === shownDays) return;
      shownDays = key;
      const today = new Date().toISOString().slice(0, 10);
      const options = [new Option('Today (UTC)', 'today')];
      for (const d of days) {
        if (d.date !== today) options.push(new Option(`${d.date} \u00b7 ${(d.distance_m / 1000).toFixed(1)} km`, d.date));
      }
      options.push(new Option('Whole log', 'all'));
      const chosen = daySelect.value;
      daySelect.replaceChildren(...options);
      daySelect.value = [...daySelect.options].some((o) => o.value === chosen) ? chosen : 'today';
    } catch (e) { /* shown by the page's error line */ }
  }

  function rangeOf(choice) {
    if (choice === 'all') return '';
    const day = choice === 'today' ? new Date().toISOString().slice(0, 10) : choice;
    const next = new Date(Date.parse(day + 'T00:00:00Z') + DAY_MS).toISOString().slice(0, 10);
    return `?from=${day}&to=${next}`;
  }

  function duration(seconds) {
    const s = Math.round(seconds);
    const h = Math.floor(s / 3600);
    const m = Math.floor((s % 3600) / 60);
    return h > 0 ? `${h} h ${String(m).padStart(2, '0')} min` : m > 0 ? `${m} min ${s % 60} s` : `${s} s`;
  }

  function drawStats(summary) {
    $('stat-distance').textContent = (summary.distance_m / 1000).toFixed(1) + ' km';
    $('stat-duration').textContent = summary.records > 0 ? duration(summary.duration_s) : '\u2014';
    $('stat-points').textContent = summary.records.toLocaleString('en');
    $('stat-speed').textContent = summary.records > 0 ? summary.maxSpeedKmh.toFixed(1) + ' km/h' : '\u2014';
  }

  // Speed and altitude over the track's time, each scaled to its own range.
  function drawProfile(doc) {
    const svg = $('profile');
    const ns = 'http://www.w3.org/2000/svg';
    const start = Date.parse(doc.summary.start);
    const span = Math.max(1, Date.parse(doc.summary.end) - start);
    const samples = doc.features.map((f) => f.properties.times.map((t, i) => ({
      x: (Date.parse(t) - start) / span * 600, speed: f.properties.speeds[i], alt: f.geometry.coordinates[i][2],
    })));
    const all = samples.flat();
    const top = Math.max(1, ...all.map((s) => s.speed));
    const low = Math.min(...all.map((s) => s.alt));
    const high = Math.max(...all.map((s) => s.alt));
    const lines = [];
    for (const part of samples) {
      for (const [cls, y] of [['alt', (s) => 112 - (s.alt - low) / Math.max(1, high - low) * 104],
        ['speed', (s) => 112 - s.speed / top * 104]]) {
        const line = document.createElementNS(ns, 'polyline');
        line.setAttribute('class', 'profile-' + cls);
        line.setAttribute('vector-effect', 'non-scaling-stroke');
        line.setAttribute('points', part.map((s) => s.x.toFixed(1) + ',' + y(s).toFixed(1)).join(' '));
        lines.push(line);
      }
    }
    svg.replaceChildren(...lines);
    const caption = $('profile-caption');
    caption.hidden = all.length === 0;
    if (all.length > 0) {
      caption.querySelector('.key-speed').textContent = `Speed 0\u2013${top.toFixed(0)} km/h`;
      caption.querySelector('.key-alt').textContent = `Altitude ${low.toFixed(0)}\u2013${high.toFixed(0)} m`;
    }
    svg.parentElement.hidden = all.length === 0;
  }

  function drawTrack(doc) {
    track.clearLayers();
    for (const f of doc.features) {
      L.polyline(f.geometry.coordinates.map((c) => [c[1], c[0]]), { color: '#d9480f', weight: 4, opacity: 0.85,
        className: 'track-line' }).addTo(track);
    }
    drawStats(doc.summary);
    drawProfile(doc);
    if (doc.features.length > 0 && !fitted) {
      map.fitBounds(track.getBounds(), { padding: [24, 24], maxZoom: 17 });
      fitted = centred = true;
    }
  }

  let trackBusy = false;
  let trackAgain = false;
  async function loadTrack() {
    if (trackBusy) { trackAgain = true; return; }
    trackBusy = true;
    try {
      do {
        trackAgain = false;
        const r = await fetch('/api/track' + rangeOf(daySelect.value));
        const doc = await r.json();
        if (r.ok) drawTrack(doc); else $('stat-points').textContent = doc.error || 'cannot read the log';
      } while (trackAgain);
    } catch (e) { /* shown by the page's error line */ } finally {
      trackBusy = false;
    }
  }
  let lastTrack = 0;
  let trackTimer = null;
  function trackSoon() {
    // A past day no longer grows.
    if (trackTimer !== null || !['today', 'all'].includes(daySelect.value)) return;
    trackTimer = setTimeout(() => {
      trackTimer = null;
      lastTrack = Date.now();
      loadTrack();
    }, Math.max(0, lastTrack + TRACK_REFETCH_MS - Date.now()));
  }

  daySelect.addEventListener('focus', loadDays);
  daySelect.addEventListener('change', () => {
    fitted = false;
    loadTrack();
  });
  document.addEventListener('kestrix:position', () => {
    loadPosition();
    trackSoon();
  });
  // The logger stopping or starting again changes the state: the last records show.
  document.addEventListener('kestrix:change', trackSoon);
  setInterval(() => { if (position && !position.fix) drawPosition(); }, AGE_REDRAW_MS);
  loadPosition();
  loadDays();
  lastTrack = Date.now();
  loadTrack();
})();
