// The map: a replayed receiver moves the marker, the logger's records make the line, tiles
// come from the address given with --tiles (a tile server of the test's own on loopback),
// and with --tiles off the line and the marker stand on a plain background.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { scenario, screenshots, until } from './support.mjs';

// A 1x1 PNG for every tile.
const TILE = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==',
  'base64');

await scenario(async (s) => {
  const tileRequests = [];
  const tiles = http.createServer((req, res) => {
    tileRequests.push(req.url);
    res.writeHead(200, { 'Content-Type': 'image/png' });
    res.end(TILE);
  });
  await new Promise((resolve) => tiles.listen(0, '127.0.0.1', resolve));
  s.atEnd(() => new Promise((resolve) => tiles.close(resolve)));

  // A drive that started a minute ago, so that it is today's track.
  await s.replay(600, 5, new Date(Date.now() - 60000).toISOString().slice(0, 19));
  const decoded = spawnSync(process.env.KESTRIX_BIN, ['nmea', 'decode', path.join(s.root, 'drive.nmea')],
    { encoding: 'utf8', maxBuffer: 1 << 28 });
  const replayed = new Set(decoded.stdout.split('\n').filter((l) => l)
    .map((l) => JSON.parse(l)).map((f) => `Position ${f.lat.toFixed(6)}, ${f.lon.toFixed(6)}`));
  const settings = { Login: 'anna', Password: 'demo', COM: s.gps, ModeP: 2, ModeB: 0 };
  const first = await s.open(settings, ['--tiles', `http://127.0.0.1:${tiles.address().port}/{z}/{x}/{y}.png`]);
  const { page } = first;

  // The marker stands at a replayed position and moves with the fixes.
  const marker = page.locator('path.position-marker[data-fix="fix"]');
  await marker.waitFor();
  const at = await marker.getAttribute('aria-label');
  assert.ok(replayed.has(at), `${at} is a position of the replayed drive`);
  await until(async () => (await marker.getAttribute('aria-label')) !== at, 'the marker to move');
  await page.locator('#fix-state[data-fix="fix"]').waitFor();

  // The page asked the given tile server for tiles (and got them).
  await until(() => tileRequests.length > 0, 'tile requests');
  assert.ok(tileRequests.every((u) => /^\/\d+\/\d+\/\d+\.png$/.test(u)), tileRequests.join(' '));

  // With the logger stopped the line holds every record it wrote.
  await page.locator('input[name="cmd:40002"]').click();
  await page.locator('#status-page').getByText('Mode: Disconnected').waitFor();
  const records = fs.statSync(path.join(s.data, 'anna.log')).size / 32;
  assert.ok(records > 5, `the logger wrote ${records} records`);
  await until(async () => (await page.locator('#stat-points').innerText()) === records.toLocaleString('en'),
    `${records} points under the map`, { last: () => 'a different count' });
  assert.ok(await page.locator('path.track-line').count() >= 1, 'the track is drawn');
  assert.notEqual(await page.locator('#stat-distance').innerText(), '0.0 km');
  await screenshots(page, 'map');
  await first.close();

  // No tiles: a plain background, still the line.
  const requested = tileRequests.length;
  const { page: plain } = await s.open({}, ['--tiles', 'off']);
  await plain.locator('path.track-line').first().waitFor();
  assert.equal(await plain.locator('#map.map-plain').count(), 1);
  assert.equal(await plain.locator('.leaflet-tile').count(), 0);
  assert.equal(tileRequests.length, requested, 'no tile was asked for');
  await screenshots(plain, 'map-off', [1280]);
});
