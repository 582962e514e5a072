// The signed-in page: the account's days, the chosen day's or range's points on the map
// (track points as one line, live positions as another, the newest one marked), the
// range's figures and speed profile, downloads, and new points as the server stores them
// (the event stream says when; the page then asks for the range again). An administrator
// chooses the account and sees every account's last position. Everything a person typed
// (account names) goes into the page as text, never as HTML.
'use strict';

(function () {
  const root = document.getElementById('tracks');
  const user = root.dataset.user;
  const admin = root.dataset.admin === '1';
  const $ = (id) => document.getElementById(id);
  const query = (params) => new URLSearchParams(params).toString();
  const colours = { track: '#0b5aa8', live: '#d9480f' };

  function baseMap(element) {
    const map = L.map(element, { worldCopyJump: true }).setView([30, 0], 2);
    if (root.dataset.tiles) {
      L.tileLayer(root.dataset.tiles, { maxZoom: 19, attribution: root.dataset.attribution }).addTo(map);
    }
    return map;
  }

  const map = baseMap('map');
  const lines = {
    track: L.polyline([], { color: colours.track, weight: 4, opacity: 0.9, className: 'track-line' }).addTo(map),
    live: L.polyline([], { color: colours.live, weight: 3, dashArray: '6 6', className: 'live-line' }).addTo(map),
  };
  const newest = L.circleMarker([0, 0], { radius: 8, color: '#fff', weight: 3, fillColor: colours.live, fillOpacity: 1,
    className: 'newest-marker' });
  let range = null;  // { from, to, day }
  let fitted = false;
  let features = [];

  async function getJson(url) {
    const r = await fetch(url, { credentials: 'same-origin' });
    if (r.status === 401) {
      location.href = '/login';
      throw new Error('signed out');
    }
    if (!r.ok) {
      let message = r.statusText;
      try { message = (await r.json()).error; } catch (e) { /* not JSON */ }
      throw new Error(message);
    }
    return r.json();
  }

  function distanceText(m) {
    if (m < 1000) return Math.round(m) + ' m';
    return (m / 1000).toFixed(m < 100000 ? 2 : 0) + ' km';
  }

  function durationText(s) {
    s = Math.round(s);
    const h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60);
    if (h) return h + ' h ' + m + ' min';
    if (m) return m + ' min ' + (s % 60) + ' s';
    return s + ' s';
  }

  // "2026-12-06T10:00:00.000Z" as the value of a datetime-local input, and back.
  const toInput = (iso) => iso.slice(0, 19);
  function fromInput(value, end) {
    if (value.length === 16) value += end ? ':59' : ':00';
    return value + (end ? '.999Z' : '.000Z');
  }

  function popupFor(point) {
    const box = document.createElement('div');
    const name = document.createElement('div');
    name.className = 'popup-name';
    name.textContent = user;
    const what = document.createElement('div');
    what.textContent = (point.kind === 'live' ? 'Live position' : 'Track point') + ', ' +
      point.time.replace('T', ' ').slice(0, 19) + ' UTC';
    const speed = document.createElement('div');
    speed.textContent = Math.round(point.speed * 10) / 10 + ' km/h';
    box.append(name, what, speed);
    return box;
  }

  // Metres between two [lon, lat] positions (a sphere is close enough for a profile).
  function metres(a, b) {
    const rad = Math.PI / 180;
    const dLat = (b[1] - a[1]) * rad, dLon = (b[0] - a[0]) * rad;
    const h = Math.sin(dLat / 2) ** 2 + Math.cos(a[1] * rad) * Math.cos(b[1] * rad) * Math.sin(dLon / 2) ** 2;
    return 2 * 6371008.8 * Math.asin(Math.sqrt(h));
  }

  // The line's speeds; a track sent without speeds gets them from its positions and times.
  function speedsOf(f) {
    const { speeds, times } = f.properties;
    if (speeds.some((v) => v > 0)) return speeds;
    // Over at least a second: positions of one second would read as standing still.
    const c = f.geometry.coordinates;
    let from = 0, last = 0;
    return speeds.map((v, i) => {
      const seconds = (Date.parse(times[i]) - Date.parse(times[from])) / 1000;
      if (seconds < 1) return last;
      last = seconds <= 600 ? metres(c[from], c[i]) / seconds * 3.6 : 0;
      from = i;
      return last;
    });
  }

  function drawProfile() {
    const canvas = $('profile');
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth, height = canvas.clientHeight;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, width, height);
    let start = Infinity, end = -Infinity, top = 0;
    for (const f of features) {
      const times = f.properties.times, speeds = speedsOf(f);
      if (!times.length) continue;
      start = Math.min(start, Date.parse(times[0]));
      end = Math.max(end, Date.parse(times[times.length - 1]));
      for (const s of speeds) top = Math.max(top, s);
    }
    g.font = '12px system-ui, sans-serif';
    g.fillStyle = '#5a6675';
    if (!isFinite(start)) {
      g.fillText('No points in this range.', 8, height / 2);
      return;
    }
    top = Math.max(10, Math.ceil(top / 10) * 10);
    const left = 58, bottom = height - 20, right = width - 8, upper = 8;
    const x = (t) => left + (end > start ? (t - start) / (end - start) : 0.5) * (right - left);
    const y = (s) => bottom - (s / top) * (bottom - upper);
    g.strokeStyle = '#dce2e9';
    g.lineWidth = 1;
    for (const s of [0, top / 2, top]) {
      g.beginPath();
      g.moveTo(left, y(s));
      g.lineTo(right, y(s));
      g.stroke();
      g.fillText(s + ' km/h', 0, y(s) + 4);
    }
    const clock = (t) => new Date(t).toISOString().slice(11, 16);
    g.fillText(clock(start), left, height - 4);
    const endLabel = clock(end);
    g.fillText(endLabel, right - g.measureText(endLabel).width, height - 4);
    for (const f of features) {
      const times = f.properties.times, speeds = speedsOf(f);
      // The track as a line; live positions, which arrive in bursts that share a receive
      // time, as dots.
      if (f.properties.kind === 'live') {
        g.fillStyle = colours.live;
        times.forEach((t, i) => g.fillRect(x(Date.parse(t)) - 1.5, y(speeds[i]) - 1.5, 3, 3));
        continue;
      }
      g.strokeStyle = colours.track;
      g.lineWidth = 1.5;
      g.beginPath();
      times.forEach((t, i) => {
        const px = x(Date.parse(t)), py = y(speeds[i]);
        if (i) g.lineTo(px, py); else g.moveTo(px, py);
      });
      g.stroke();
    }
  }

  async function loadPoints() {
    if (!range) return;
    const params = { user, from: range.from, to: range.to };
    const doc = await getJson('/api/v1/points?' + query({ ...params, format: 'geojson', simplify: 5000 }));
    features = doc.features;
    // The newest position stays in view as it moves on (the map centres on it as it nears the
    // edge), unless the person has moved the map away from it.
    const following = !map.hasLayer(newest) || map.getBounds().contains(newest.getLatLng());
    let last = null;
    const all = [];
    lines.track.setLatLngs([]);
    lines.live.setLatLngs([]);
    for (const f of features) {
      const kind = f.properties.kind;
      const points = f.geometry.coordinates.map((c) => [c[1], c[0]]);
      lines[kind].setLatLngs(points);
      all.push(...points);
      const i = points.length - 1;
      const time = f.properties.times[i];
      if (i >= 0 && (!last || time > last.time)) last = { at: points[i], time, kind, speed: f.properties.speeds[i] };
    }
    if (last) {
      newest.setStyle({ fillColor: colours[last.kind] });
      newest.setLatLng(last.at).bindPopup(popupFor(last)).addTo(map);
    } else {
      newest.remove();
    }
    const s = doc.summary;
    $('distance').textContent = distanceText(s.distance_m);
    $('duration').textContent = durationText(s.duration_s);
    $('top-speed').textContent = Math.round(s.maxSpeedKmh) + ' km/h';
    $('points').textContent = s.records.toLocaleString('en');
    const label = range.day ? range.day + ' (UTC)' :
      range.from.replace('T', ' ').slice(0, 19) + ' to ' + range.to.replace('T', ' ').slice(0, 19) + ' UTC';
    if (s.records) $('shown').textContent = label;
    else if (document.querySelector('#days li')) $('shown').textContent = label + ': no points';
    else $('shown').textContent = 'No points yet: once a tracker logs in with this account and sends positions, ' +
      'they appear here.';
    const stem = (user + '-' + (range.day || range.from.slice(0, 10))).replace(/[^A-Za-z0-9._-]+/g, '_');
    for (const format of ['gpx', 'geojson', 'csv']) {
      const link = $('dl-' + format);
      link.href = '/api/v1/points?' + query({ ...params, format });
      link.download = stem + '.' + format;
    }
    if (!fitted && all.length) {
      map.fitBounds(L.latLngBounds(all).pad(0.15), { maxZoom: 16 });
      fitted = true;
    } else if (last && following && !map.getBounds().pad(-0.1).contains(last.at)) {
      map.panTo(last.at);
    }
    drawProfile();
  }

  function markDay() {
    for (const b of document.querySelectorAll('#days button')) {
      b.setAttribute('aria-current', String(!!range && b.dataset.day === range.day));
    }
  }

  function show(next) {
    range = next;
    $('from').value = toInput(range.from);
    $('to').value = toInput(range.to);
    fitted = false;
    markDay();
    loadPoints().catch(report);
  }

  const showDay = (day) => show({ from: day + 'T00:00:00.000Z', to: day + 'T23:59:59.999Z', day });

  async function loadDays() {
    const doc = await getJson('/api/v1/days?' + query({ user }));
    const list = $('days');
    list.replaceChildren();
    $('days-empty').hidden = doc.days.length > 0;
    for (const d of doc.days) {
      const item = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.day = d.day;
      const date = document.createElement('span');
      date.className = 'date';
      date.textContent = d.day;
      const info = document.createElement('span');
      info.className = 'info';
      info.textContent = d.points.toLocaleString('en') + (d.points === 1 ? ' point · ' : ' points · ') +
        distanceText(d.distance_m);
      button.append(date, info);
      button.addEventListener('click', () => showDay(d.day));
      item.append(button);
      list.append(item);
    }
    markDay();
    return doc.days;
  }

  function report(error) {
    $('shown').textContent = 'Could not load the points: ' + error.message;
  }

  $('range').addEventListener('submit', (event) => {
    event.preventDefault();
    const from = fromInput($('from').value, false), to = fromInput($('to').value, true);
    if (to < from) {
      $('shown').textContent = 'The end of the range is before its start.';
      return;
    }
    show({ from, to, day: null });
  });

  async function start() {
    const days = await loadDays();
    const today = new Date().toISOString().slice(0, 10);
    showDay(days.length ? days[0].day : today);
  }

  // New points: the range again, at most every half second; the day list (which reads
  // every point of the account) at most once a minute.
  let pending = null;
  let daysLoaded = Date.now();
  const events = new EventSource('/api/v1/events?' + query({ user }));
  events.addEventListener('points', () => {
    if (pending) return;
    pending = setTimeout(() => {
      pending = null;
      loadPoints().catch(report);
      if (Date.now() - daysLoaded > 60000 || !document.querySelector('#days li')) {
        daysLoaded = Date.now();
        loadDays().catch(() => {});
      }
    }, 500);
  });
  window.addEventListener('resize', drawProfile);

  async function accounts() {
    const users = await getJson('/api/v1/users');
    const select = $('account');
    for (const u of users) {
      const option = document.createElement('option');
      option.value = u.name;
      option.textContent = u.name + (u.admin ? ' (administrator)' : '');
      option.selected = u.name === user;
      select.append(option);
    }
    select.addEventListener('change', () => { location.href = '/tracks?' + query({ user: select.value }); });
    const placed = users.filter((u) => u.position);
    if (users.length < 2 || !placed.length) return;
    $('overview-card').hidden = false;
    const overview = baseMap('overview-map');
    const bounds = [];
    for (const u of placed) {
      const at = [u.position.lat, u.position.lon];
      bounds.push(at);
      const box = document.createElement('div');
      const name = document.createElement('a');
      name.className = 'popup-name';
      name.href = '/tracks?' + query({ user: u.name });
      name.textContent = u.name;
      const when = document.createElement('div');
      when.textContent = u.position.time.replace('T', ' ').slice(0, 19) + ' UTC';
      box.append(name, when);
      const tip = document.createElement('span');
      tip.textContent = u.name;
      L.circleMarker(at, { radius: 7, color: '#fff', weight: 2, fillColor: colours.track, fillOpacity: 1 })
        .bindTooltip(tip, { permanent: true, direction: 'right', offset: [8, 0] }).bindPopup(box).addTo(overview);
    }
    overview.fitBounds(L.latLngBounds(bounds).pad(0.2), { maxZoom: 14 });
  }

  if (admin) accounts().catch(() => {});
  start().catch(report);
})();
