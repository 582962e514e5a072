// Tracking against the reference server, seen on the page: a replayed receiver feeds the
// tracker and logger, the page shows the failed connection while the server is down, and
// once it is back "Trk2Srv" uploads the whole track log, which the server then holds.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  api, config, launchBrowser, loadChromium, main, serverCommand, serverExport, startDaemon, startReplay, startServer,
  tempDir, waitForState, writePowerSupply,
} from './support.mjs';

const TIMEOUT = 30000;
const UPLOADED = /^Track has been sent to Geomira Server, Track Point count: (\d+)$/;

// Polls what the server holds for anna until pred holds.
async function waitForPoints(db, pred, what) {
  const end = Date.now() + TIMEOUT;
  let points = [];
  while (Date.now() < end) {
    points = serverExport(db, 'anna');
    if (pred(points)) return points;
    await new Promise((r) => setTimeout(r, 200));
  }
  throw new Error(`timed out waiting for ${what}; the server holds ${points.length} points`);
}

await main(async () => {
  const chromium = await loadChromium();
  const root = tempDir();
  const data = path.join(root, 'data');
  const power = path.join(root, 'power');
  const db = path.join(root, 'server.sqlite');
  const gps = path.join(root, 'gps0');
  writePowerSupply(power, true);

  let server = await startServer(db);
  const port = server.port;
  serverCommand(db, 'user', 'add', 'anna', 'demo');
  const replay = await startReplay(root, gps, 600, 5);
  for (const [name, value] of [['Login', 'anna'], ['Password', 'demo'], ['COM', gps], ['Host', '127.0.0.1'],
    ['Port', String(port)], ['ModeP', '3'], ['ModeB', '0']]) {
    config(data, name, value);
  }

  const daemon = await startDaemon(data, power);
  const browser = await launchBrowser(chromium, root);
  try {
    const page = browser.pages()[0] || (await browser.newPage());
    page.setDefaultTimeout(TIMEOUT);
    await page.goto(daemon.url);
    const status = page.locator('#status-page');

    // External power with ModeP 3: tracker and logger, fixes from the receiver, live
    // positions on the server.
    await status.getByText('Mode: Tracker/Logger').waitFor();
    await status.getByText('GPS position fixed').waitFor();
    await waitForState(daemon, (s) => s.sessionRunning && s.receiverRunning, 'the session and the receiver');
    const live = await waitForPoints(db, (p) => p.some((x) => x.kind === 'live'), 'a live position');
    assert.ok(live.every((p) => Math.abs(p.lat) <= 90 && Math.abs(p.lon) <= 180 && (p.lat !== 0 || p.lon !== 0)),
      JSON.stringify(live[0]));

    // With the server gone, the next send fails and the page says why.
    assert.equal(await server.stop(), 0, 'kestrix-server ends with 0 on SIGTERM: ' + server.output());
    const refused = status.getByText(`Message: Can't connect to Host:127.0.0.1 Port:${port} Error:`);
    await refused.waitFor();
    assert.match(await refused.innerText(), /Error:\d+\s*$/);

    // Back on the same port and database, the session logs in again on its next try;
    // then the upload sends the whole log.
    server = await startServer(db, `127.0.0.1:${port}`);
    await status.getByText('Mode: Tracker/Logger').waitFor();
    const logged = fs.statSync(path.join(data, 'anna.log')).size / 32;
    assert.ok(logged > 0, 'the logger wrote records before the upload');
    await page.locator('input[name="cmd:40007"]').click();
    const box = page.locator('.box[role="alertdialog"]');
    await box.getByText(UPLOADED).waitFor();
    assert.equal(await box.locator('.box-title').innerText(), 'Kestrix');
    const count = Number(UPLOADED.exec(await box.locator('.box-text').innerText())[1]);
    assert.ok(count >= logged, `the upload sent ${count} points, the log held ${logged} before the click`);
    if (process.env.KESTRIX_SCREENSHOT) await page.screenshot({ path: process.env.KESTRIX_SCREENSHOT });
    await box.getByRole('button', { name: 'OK' }).click();
    await box.waitFor({ state: 'detached' });

    // Every uploaded point was stored (the session's resend of its offline store may add
    // track points of its own, never fewer).
    const track = serverExport(db, 'anna').filter((p) => p.kind === 'track');
    assert.ok(track.length >= count, `the server holds ${track.length} track points, the upload sent ${count}`);
    // The services that ran at the click run again once the box is answered.
    await status.getByText('Mode: Tracker/Logger').waitFor();
    assert.equal((await api(daemon, '/api/state')).body.state & 3, 3);
  } finally {
    await browser.close();
    const code = await daemon.stop();
    await replay.stop();
    await server.stop();
    assert.equal(code, 0, 'kestrix run ends with 0 on SIGTERM: ' + daemon.stderr());
  }
  fs.rmSync(root, { recursive: true, force: true });
});
