// The home screen on a replayed receiver: the item row shows the logger's image as the
// logger runs with a fix, and a click on the logger button stops and starts the logger,
// which the status page follows. A click on the gauge opens the satellite view beside the
// notification; its time and position follow the replayed fixes, its sky plot and list
// show the replayed satellites, and Done closes it. Pictures of the open view at desktop
// and phone width are kept (KESTRIX_SCREENSHOT_DIR).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { api, scenario, screenshots, waitForState } from './support.mjs';

const ITEM_WIDTH = 480;
const LOGGER_X = 420;  // the middle of the logger button, in item pixels
const GAUGE_X = 464;   // the middle of the signal gauge

// The capture's fixes by UTC time "hh:mm:ss" (signed degrees) and its satellite numbers.
function readCapture(capture) {
  const degrees = (text, hemisphere, width) =>
    (hemisphere === 'S' || hemisphere === 'W' ? -1 : 1) * (Number(text.slice(0, width)) + Number(text.slice(width)) / 60);
  const fixes = new Map();
  const ids = new Set();
  for (const line of fs.readFileSync(capture, 'utf8').split('\r\n')) {
    const f = line.split('*')[0].split(',');
    if (f[0] === '$GPRMC' && f[2] === 'A') {
      fixes.set(f[1].slice(0, 6).replace(/(..)(..)(..)/, '$1:$2:$3'), [degrees(f[3], f[4], 2), degrees(f[5], f[6], 3)]);
    }
    for (let i = 4; f[0] === '$GPGSV' && i < f.length; i += 4) if (f[i]) ids.add(Number(f[i]));
  }
  return { fixes, satellites: [...ids].sort((a, b) => a - b) };
}

await scenario(async (s) => {
  await s.replay(600, 5);
  const { fixes, satellites: replayed } = readCapture(path.join(s.root, 'drive.nmea'));
  assert.ok(fixes.size > 500 && replayed.length === 11, `${fixes.size} fixes, satellites ${replayed}`);
  // The logger alone on external power: the receiver runs without a server.
  const { daemon, page } = await s.open({ Login: 'anna', Password: 'demo', COM: s.gps, ModeP: 2, ModeB: 0 });
  await page.setViewportSize({ width: 1280, height: 900 });
  await page.locator('#status-page').getByText('GPS position fixed').waitFor();
  await waitForState(daemon, (st) => st.receiverRunning, 'the receiver');

  const status = page.locator('#status-page');
  const row = page.locator('#today-row');
  const image = (id) => row.locator(`svg image[data-resource="${id}"]`);
  const tap = async (x) => {
    const box = await row.boundingBox();
    await page.mouse.click(box.x + (x + 0.5) * box.width / ITEM_WIDTH, box.y + box.height / 2);
  };
  // External power, ModeP 2: the logger runs, and with the replayed fixes its image is
  // the one with a fix (110), left of the settings button.
  await image('110').waitFor();
  assert.equal(await image('110').getAttribute('x'), '412');
  const box = await row.boundingBox();
  assert.ok(Math.abs(box.height - box.width * 24 / ITEM_WIDTH) <= 2, `the row keeps its aspect: ${box.width} x ${box.height}`);
  await tap(LOGGER_X);
  await image('132').waitFor();
  await status.getByText('Mode: Disconnected').waitFor();
  const state = await waitForState(daemon, (st) => (st.state & 2) === 0 && !st.receiverRunning, 'the logger stopped');
  assert.equal(state.stoppedByUser, false, 'the item button is no Disable');
  await tap(GAUGE_X);  // the receiver is off: the gauge opens nothing
  await tap(LOGGER_X);
  await status.getByText('Mode: Logger').waitFor();
  await image('110').waitFor();
  await waitForState(daemon, (st) => (st.state & 2) === 2 && st.receiverRunning, 'the logger started again');
  assert.deepEqual((await api(daemon, '/api/dialogs')).body.dialogs, [], 'no view opened while the receiver was off');

  await tap(GAUGE_X);
  const view = page.locator('.satview');
  await view.waitFor();
  assert.equal(await view.locator('.dlg-title').innerText(), 'GPS Status');

  // The texts show replayed fixes, each time with that second's position (to the
  // printed five decimals), and move on.
  const seen = new Set();
  for (const end = Date.now() + 30000; seen.size < 3 && Date.now() < end; await page.waitForTimeout(150)) {
    const [utc, ...position] = await view.evaluate((el) => ['1042', '1043', '1044'].map(
      (id) => el.querySelector(`[data-control="${id}"]`).textContent));
    if (utc === '--:--:--') continue;  // the replayed drive loses its fix for a few seconds
    assert.ok(fixes.has(utc), `a replayed time: ${utc}`);
    fixes.get(utc).forEach((want, i) => assert.ok(/^-?\d+\.\d{5}$/.test(position[i]) &&
      Math.abs(Number(position[i]) - want) <= 0.000006, `${position[i]} for ${want} at ${utc}`));
    seen.add(utc);
  }
  assert.equal(seen.size, 3, `the view showed the fixes of ${[...seen]}`);

  // The sky plot draws every replayed satellite (all have a position) and the list under
  // it names the same ones, eight of them used (but while the replayed fix is lost).
  await page.waitForFunction(() => document.querySelectorAll('.sat-list tbody tr').length === 11 &&
    document.querySelectorAll('.sat-list tbody tr.sat-used').length === 8);
  const src = await view.locator('img[data-control="1015"]').getAttribute('src');
  const plotted = [...decodeURIComponent(src.slice(src.indexOf(',') + 1))
    .matchAll(/<text[^>]*fill="#ffffff"[^>]*>(\d+)<\/text>/g)].map((m) => Number(m[1]));
  assert.deepEqual(plotted.sort((a, b) => a - b), replayed);
  const rows = await view.locator('.sat-list tbody tr').evaluateAll((trs) => trs.map(
    (tr) => [...tr.children].map((td) => td.textContent)));
  assert.deepEqual(rows.map((r) => Number(r[1])), replayed);
  assert.ok(rows.every((r) => r[0] === 'GPS' && /^\d+°$/.test(r[2]) && /^\d+°$/.test(r[3])), JSON.stringify(rows));

  await screenshots(page, 'satview', [1280, 390], () => view.scrollIntoViewIfNeeded());
  await page.setViewportSize({ width: 1280, height: 900 });

  // Done closes the window; the model lets go of the receiver.
  await view.locator('.dlg-done').click();
  await view.waitFor({ state: 'detached' });
  assert.deepEqual((await api(daemon, '/api/dialogs')).body.dialogs, []);
});
