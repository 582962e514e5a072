// The status notification in the browser: the logger starts on external power, the page's
// switch stops and starts the services, a change of power source respects the person's
// "Disable", the bubble can be dismissed and comes back, and changes need the token.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  api, config, launchBrowser, loadChromium, main, startDaemon, tempDir, waitForState, writePowerSupply,
} from './support.mjs';

const TIMEOUT = 30000;

await main(async () => {
  const chromium = await loadChromium();
  const root = tempDir();
  const data = path.join(root, 'data');
  const power = path.join(root, 'power');
  writePowerSupply(power, true);
  for (const [name, value] of [['Login', 'anna'], ['Password', 'demo'], ['COM', '/dev/null'],
    ['ModeP', '2'], ['ModeB', '0']]) {
    config(data, name, value);
  }

  let daemon = await startDaemon(data, power);
  const browser = await launchBrowser(chromium, root);
  try {
    const page = browser.pages()[0] || (await browser.newPage());
    page.setDefaultTimeout(TIMEOUT);
    await page.goto(daemon.url);
    const status = page.locator('#status-page');

    // The first power broadcast says external power: ModeP starts the logger.
    await status.getByText('Mode: Logger').waitFor();
    const off = page.locator('input[name="cmd:40002"]');
    assert.equal(await off.inputValue(), 'Switch\nOFF');
    assert.equal(await page.locator('#bubble-title').textContent(), 'Kestrix');
    assert.ok(fs.existsSync(path.join(data, 'anna.log')), 'the track log is named after the account');
    if (process.env.KESTRIX_SCREENSHOT) await page.screenshot({ path: process.env.KESTRIX_SCREENSHOT });

    // A change without the page's token is refused and changes nothing.
    const refused = await page.evaluate(async () => {
      const r = await fetch('/api/command', { method: 'POST', body: JSON.stringify({ id: 40002 }) });
      return r.status;
    });
    assert.equal(refused, 403);
    assert.equal((await api(daemon, '/api/state')).body.state, 2);

    // "Switch OFF" is the person's Disable.
    await off.click();
    await status.getByText('Mode: Disconnected').waitFor();
    const on = page.locator('input[name="cmd:40001"]');
    assert.equal(await on.inputValue(), 'Switch\nON');
    let state = await waitForState(daemon, (s) => s.stoppedByUser, 'the Disable');

    // On battery nothing restarts while the Disable stands.
    writePowerSupply(power, false);
    state = await waitForState(daemon, (s) => s.acLineStatus === 0, 'the battery broadcast');
    assert.equal(state.state, 0);
    assert.equal(state.stoppedByUser, true, 'a change of power source keeps the Disable');
    await status.getByText('Mode: Disconnected').waitFor();

    // "Switch ON" starts what the battery mode asks for: ModeB 0 asks for nothing.
    const [answer] = await Promise.all([page.waitForResponse('**/api/command'), on.click()]);
    assert.equal(answer.status(), 200);
    state = (await api(daemon, '/api/state')).body;  // handled after the command
    assert.equal(state.stoppedByUser, false);
    assert.equal(state.state, 0);
    assert.ok(await status.getByText('Mode: Disconnected').isVisible());

    // The close button dismisses the bubble; the next change of state brings it back.
    await page.locator('#bubble-close').click();
    await page.locator('#no-bubble').waitFor({ state: 'visible' });
    assert.equal((await api(daemon, '/api/notification')).status, 404);
    writePowerSupply(power, true);
    await status.getByText('Mode: Logger').waitFor();
    assert.ok(await page.locator('#bubble').isVisible());
  } finally {
    await browser.close();
    const code = await daemon.stop();
    assert.equal(code, 0, 'kestrix run ends with 0 on SIGTERM: ' + daemon.stderr());
  }

  // A battery mode that asks for the logger starts it on battery (settings are read at start).
  writePowerSupply(power, false);
  config(data, 'ModeB', '2');
  daemon = await startDaemon(data, power);
  try {
    const state = await waitForState(daemon, (s) => s.acLineStatus === 0 && s.state === 2, 'the logger on battery');
    assert.equal(state.stoppedByUser, false);
    const n = (await api(daemon, '/api/notification')).body;
    assert.match(n.html, /Mode: Logger/);
  } finally {
    assert.equal(await daemon.stop(), 0);
  }
  fs.rmSync(root, { recursive: true, force: true });
});
