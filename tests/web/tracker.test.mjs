// Tracking against the reference server, seen on the page: a replayed receiver feeds the
// tracker and logger, the page shows the failed connection while the server is down, and
// once it is back "Trk2Srv" uploads the whole track log, which the server then holds.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { api, scenario, serverCommand, serverExport, until, waitForState } from './support.mjs';

const UPLOADED = /^Track has been sent to Geomira Server, Track Point count: (\d+)$/;

await scenario(async (s) => {
  const server = await s.server();
  const port = server.port;
  serverCommand(s.db, 'user', 'add', 'anna', 'demo');
  await s.replay(600, 5);
  const { daemon, page } = await s.open({ Login: 'anna', Password: 'demo', COM: s.gps, Host: '127.0.0.1', Port: port,
    ModeP: 3, ModeB: 0 });
  const status = page.locator('#status-page');

  // External power with ModeP 3: tracker and logger, fixes from the receiver, live
  // positions on the server.
  await status.getByText('Mode: Tracker/Logger').waitFor();
  await status.getByText('GPS position fixed').waitFor();
  await waitForState(daemon, (st) => st.sessionRunning && st.receiverRunning, 'the session and the receiver');
  const live = await until(() => {
    const points = serverExport(s.db, 'anna');
    return points.some((p) => p.kind === 'live') && points;
  }, 'a live position');
  assert.ok(live.every((p) => Math.abs(p.lat) <= 90 && Math.abs(p.lon) <= 180 && (p.lat !== 0 || p.lon !== 0)),
    JSON.stringify(live[0]));

  // With the server gone, the next send fails and the page says why.
  assert.equal(await server.stop(), 0, 'kestrix-server ends with 0 on SIGTERM: ' + server.output());
  const refused = status.getByText(`Message: Can't connect to Host:127.0.0.1 Port:${port} Error:`);
  await refused.waitFor();
  assert.match(await refused.innerText(), /Error:\d+\s*$/);

  // Back on the same port and database, the session logs in again on its next try;
  // then the upload sends the whole log.
  await s.server(`127.0.0.1:${port}`);
  await status.getByText('Mode: Tracker/Logger').waitFor();
  const logged = fs.statSync(path.join(s.data, 'anna.log')).size / 32;
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
  const track = serverExport(s.db, 'anna').filter((p) => p.kind === 'track');
  assert.ok(track.length >= count, `the server holds ${track.length} track points, the upload sent ${count}`);
  // The services that ran at the click run again once the box is answered.
  await status.getByText('Mode: Tracker/Logger').waitFor();
  assert.equal((await api(daemon, '/api/state')).body.state & 3, 3);
});
