// The tracking server's pages for its users: a tracker (the daemon on a replayed drive that
// started a minute ago) sends live positions; while the server is down its page says why,
// and once the server is back "Trk2Srv" uploads the whole track log. Its owner, whose account
// name is markup, signs in, finds today in the day list, sees both lines on the map, watches
// a live position arrive without reloading, and downloads the GPX; an administrator then
// picks that account and sees every account's last position.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { api, scenario, screenshots, serverCommand, serverExport, until } from './support.mjs';

const NAME = '<img src=x onerror="alert(1)">';
const UPLOADED = /^Track has been sent to Geomira Server, Track Point count: (\d+)$/;

await scenario(async (s) => {
  const options = ['127.0.0.1:0', ['--tiles', 'off']];
  let server = await s.server('127.0.0.1:0', ...options);
  const port = server.port;
  serverCommand(s.db, 'user', 'add', NAME, 'demo');
  serverCommand(s.db, 'user', 'add', 'root', 'admin-pw', '--admin');
  await s.replay(600, 5, new Date(Date.now() - 60000).toISOString().slice(0, 19));
  const { daemon, page: tracker, browser } = await s.open({ Login: NAME, Password: 'demo', COM: s.gps,
    Host: '127.0.0.1', Port: port, ModeP: 3, ModeB: 0 });
  const status = tracker.locator('#status-page');
  await status.getByText('Mode: Tracker/Logger').waitFor();
  await status.getByText('GPS position fixed').waitFor();
  const live = await until(() => {
    const points = serverExport(s.db, NAME);
    return points.some((p) => p.kind === 'live') && points;
  }, 'a live position on the server');
  assert.ok(live.every((p) => Math.abs(p.lat) <= 90 && Math.abs(p.lon) <= 180 && (p.lat !== 0 || p.lon !== 0)),
    JSON.stringify(live[0]));

  // With the server gone, the next send fails and the page says why; back on the same port,
  // the session logs in again and the upload sends the whole log.
  assert.equal(await server.stop(), 0, 'kestrix-server ends with 0 on SIGTERM: ' + server.output());
  const refused = status.getByText(`Message: Can't connect to Host:127.0.0.1 Port:${port} Error:`);
  await refused.waitFor();
  assert.match(await refused.innerText(), /Error:\d+\s*$/);
  server = await s.server(`127.0.0.1:${port}`, ...options);
  await status.getByText('Mode: Tracker/Logger').waitFor();
  const logged = fs.statSync(path.join(s.data, NAME + '.log')).size / 32;
  assert.ok(logged > 0, 'the logger wrote records before the upload');
  await tracker.locator('input[name="cmd:40007"]').click();
  const box = tracker.locator('.box[role="alertdialog"]');
  await box.getByText(UPLOADED).waitFor();
  assert.equal(await box.locator('.box-title').innerText(), 'Kestrix');
  const count = Number(UPLOADED.exec(await box.locator('.box-text').innerText())[1]);
  assert.ok(count >= logged, `the upload sent ${count} points, the log held ${logged} before the click`);
  await box.getByRole('button', { name: 'OK' }).click();
  // Every uploaded point was stored (the session's resend of its offline store may add track
  // points of its own, never fewer), and what ran at the click runs again.
  const track = serverExport(s.db, NAME).filter((p) => p.kind === 'track').length;
  assert.ok(track >= count, `the server holds ${track} track points, the upload sent ${count}`);
  await status.getByText('Mode: Tracker/Logger').waitFor();
  assert.equal((await api(daemon, '/api/state')).body.state & 3, 3);

  const page = await browser.newPage();
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.goto(server.webUrl);
  await page.getByLabel('Login').fill(NAME);
  await page.getByLabel('Password').fill('demo');
  await page.getByRole('button', { name: 'Sign in' }).click();
  await page.waitForURL(/\/tracks$/);
  assert.equal(await page.locator('.account strong').innerText(), NAME, 'the name shows as text');

  // Today's day, chosen, with both lines and the newest position marked.
  const today = new Date().toISOString().slice(0, 10);
  const day = page.locator(`#days button[data-day="${today}"]`);
  await day.waitFor();
  assert.equal(await day.getAttribute('aria-current'), 'true');
  assert.match(await day.locator('.info').innerText(), /^[\d,]+ points · [\d.]+ k?m$/);
  for (const line of ['track-line', 'live-line']) {
    await until(async () => /^M[\d.-]+ [\d.-]+L/.test((await page.locator(`path.${line}`).getAttribute('d')) ?? ''),
      `the ${line} on the map`, { last: () => errors.join('; ') });
  }
  await page.locator('path.newest-marker').click();
  assert.equal(await page.locator('.leaflet-popup .popup-name').innerText(), NAME, 'the popup shows the name as text');
  assert.notEqual(await page.locator('#distance').innerText(), '–');
  assert.equal(await page.locator('.leaflet-tile').count(), 0, 'no tiles with --tiles off');

  // A live position sent now appears without a reload.
  await page.evaluate(() => { window.notReloaded = true; });
  const shown = Number((await page.locator('#points').innerText()).replace(/,/g, ''));
  assert.ok(shown > track && shown <= serverExport(s.db, NAME).length, `the map counts the stored points (${shown})`);
  await until(async () => Number((await page.locator('#points').innerText()).replace(/,/g, '')) > shown,
    'a new point on the map', { last: () => `still ${shown}` });
  assert.ok(await page.evaluate(() => window.notReloaded === true));

  // The GPX of the day, as the link downloads it.
  const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#dl-gpx').click()]);
  const gpx = fs.readFileSync(await download.path(), 'utf8');
  assert.match(gpx, /^<\?xml version="1.0" encoding="UTF-8"\?>\n<gpx version="1.1"/);
  assert.ok((gpx.match(/<trkpt /g) ?? []).length >= shown, 'every point shown is in the download');
  assert.ok(gpx.includes('<name>&lt;img src=x onerror="alert(1)"&gt; track</name>'));
  assert.deepEqual(dialogs, [], 'no script ran from the name');
  assert.deepEqual(errors, [], 'the page reported no errors');

  await screenshots(page, 'server-tracks', [1280, 390], async (width) => {
    if (width < 400) await page.locator('.leaflet-popup-close-button').click();
  });
  // An administrator picks the account and sees where each account was last.
  await page.locator('.account button').click();
  await page.waitForURL(server.webUrl);
  await page.getByLabel('Login').fill('root');
  await page.getByLabel('Password').fill('admin-pw');
  await page.getByRole('button', { name: 'Sign in' }).click();
  await page.waitForURL(/\/tracks$/);
  await page.getByLabel('Account').selectOption(NAME);
  await page.waitForURL(/\/tracks\?user=/);
  await page.locator('path.track-line').waitFor();
  await page.locator('#overview-map path.leaflet-interactive').waitFor();
  assert.equal(await page.locator('h1').innerText(), 'Tracks of ' + NAME);
  await screenshots(page, 'server-admin');

  // Signed out, the home page for visitors.
  await page.locator('.account button').click();
  await page.waitForURL(server.webUrl);
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  await screenshots(page, 'server-home');
});
