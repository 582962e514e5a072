// The status notification in the browser: the logger starts on external power, the page's
// switch stops and starts the services, a change of power source respects the person's
// "Disable", the bubble can be dismissed and comes back, and changes need the token; a
// battery mode that asks for the logger starts it on battery.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { api, configure, scenario, startDaemon, waitForState, writePowerSupply } from './support.mjs';

await scenario(async (s) => {
  const { daemon, page, close } = await s.open({ Login: 'anna', Password: 'demo', COM: '/dev/null', ModeP: 2, ModeB: 0 });
  const status = page.locator('#status-page');

  // The first power broadcast says external power: ModeP starts the logger.
  await status.getByText('Mode: Logger').waitFor();
  const off = page.locator('input[name="cmd:40002"]');
  assert.equal(await off.inputValue(), 'Switch\nOFF');
  assert.equal(await page.locator('#bubble-title').textContent(), 'Kestrix');
  assert.ok(fs.existsSync(path.join(s.data, 'anna.log')), 'the track log is named after the account');
  if (process.env.KESTRIX_SCREENSHOT) await page.screenshot({ path: process.env.KESTRIX_SCREENSHOT });

  // A change without the page's token is refused and changes nothing.
  assert.equal(await page.evaluate(async () =>
    (await fetch('/api/command', { method: 'POST', body: JSON.stringify({ id: 40002 }) })).status), 403);
  assert.equal((await api(daemon, '/api/state')).body.state, 2);

  // "Switch OFF" is the person's Disable; on battery nothing restarts while it stands.
  await off.click();
  await status.getByText('Mode: Disconnected').waitFor();
  const on = page.locator('input[name="cmd:40001"]');
  assert.equal(await on.inputValue(), 'Switch\nON');
  await waitForState(daemon, (st) => st.stoppedByUser, 'the Disable');
  writePowerSupply(s.power, false);
  const battery = await waitForState(daemon, (st) => st.acLineStatus === 0, 'the battery broadcast');
  assert.equal(battery.state, 0);
  assert.equal(battery.stoppedByUser, true, 'a change of power source keeps the Disable');
  await status.getByText('Mode: Disconnected').waitFor();

  // "Switch ON" starts what the battery mode asks for: ModeB 0 asks for nothing.
  const [answer] = await Promise.all([page.waitForResponse('**/api/command'), on.click()]);
  assert.equal(answer.status(), 200);
  const after = (await api(daemon, '/api/state')).body;  // handled after the command
  assert.equal(after.stoppedByUser, false);
  assert.equal(after.state, 0);
  assert.ok(await status.getByText('Mode: Disconnected').isVisible());

  // The close button dismisses the bubble; the next change of state brings it back.
  await page.locator('#bubble-close').click();
  await page.locator('#no-bubble').waitFor({ state: 'visible' });
  assert.equal((await api(daemon, '/api/notification')).status, 404);
  writePowerSupply(s.power, true);
  await status.getByText('Mode: Logger').waitFor();
  assert.ok(await page.locator('#bubble').isVisible());
  await close();

  // Settings are read at start: with ModeB 2 the logger starts on battery.
  writePowerSupply(s.power, false);
  configure(s.data, { ModeB: 2 });
  const again = await startDaemon(s.data, s.power);
  try {
    const st = await waitForState(again, (x) => x.acLineStatus === 0 && x.state === 2, 'the logger on battery');
    assert.equal(st.stoppedByUser, false);
    assert.match((await api(again, '/api/notification')).body.html, /Mode: Logger/);
  } finally {
    assert.equal(await again.stop(), 0);
  }
});
