// The tracking server's pages for its users: a tracker (the daemon on a replayed drive that
// started a minute ago) sends live positions and, at Trk2Srv, its track; its owner, whose
// account name is markup, signs in, finds today in the day list, sees both lines on the map,
// watches a live position arrive without reloading, and downloads the GPX; an administrator
// then picks that account and sees every account's last position.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { scenario, serverCommand, serverExport, until } from './support.mjs';

const NAME = '<img src=x onerror=alert(1)>';

await scenario(async (s) => {
  const server = await s.server('127.0.0.1:0', '127.0.0.1:0', ['--tiles', 'off']);
  serverCommand(s.db, 'user', 'add', NAME, 'demo');
  serverCommand(s.db, 'user', 'add', 'root', 'admin-pw', '--admin');
  await s.replay(600, 5, new Date(Date.now() - 60000).toISOString().slice(0, 19));
  const { page: tracker, browser } = await s.open({ Login: NAME, Password: 'demo', COM: s.gps, Host: '127.0.0.1',
    Port: server.port, ModeP: 3, ModeB: 0 });
  await tracker.locator('#status-page').getByText('Mode: Tracker/Logger').waitFor();
  await until(() => serverExport(s.db, NAME).some((p) => p.kind === 'live'), 'a live position on the server');
  await tracker.locator('input[name="cmd:40007"]').click();
  const box = tracker.locator('.box[role="alertdialog"]');
  await box.getByText(/^Track has been sent/).waitFor();
  await box.getByRole('button', { name: 'OK' }).click();
  const track = serverExport(s.db, NAME).filter((p) => p.kind === 'track').length;
  assert.ok(track > 1, `the server holds ${track} track points`);

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
  assert.ok(gpx.includes('<name>&lt;img src=x onerror=alert(1)&gt; track</name>'));
  assert.deepEqual(dialogs, [], 'no script ran from the name');
  assert.deepEqual(errors, [], 'the page reported no errors');

  if (process.env.KESTRIX_SCREENSHOT_DIR) {
    for (const width of [1280, 390]) {
      await page.setViewportSize({ width, height: width > 400 ? 900 : 844 });
      if (width < 400) await page.locator('.leaflet-popup-close-button').click();
      await page.screenshot({ path: path.join(process.env.KESTRIX_SCREENSHOT_DIR, `server-tracks-${width}.png`),
        fullPage: true });
    }
  }
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
  if (process.env.KESTRIX_SCREENSHOT_DIR) {
    for (const width of [1280, 390]) {
      await page.setViewportSize({ width, height: width > 400 ? 900 : 844 });
      await page.screenshot({ path: path.join(process.env.KESTRIX_SCREENSHOT_DIR, `server-admin-${width}.png`),
        fullPage: true });
    }
  }

  // Signed out, the home page for visitors.
  await page.locator('.account button').click();
  await page.waitForURL(server.webUrl);
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  if (process.env.KESTRIX_SCREENSHOT_DIR) {
    for (const width of [1280, 390]) {
      await page.setViewportSize({ width, height: width > 400 ? 900 : 844 });
      await page.screenshot({ path: path.join(process.env.KESTRIX_SCREENSHOT_DIR, `server-home-${width}.png`),
        fullPage: true });
    }
  }
});
