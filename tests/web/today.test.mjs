// The home-screen item row on the page, fed by a replayed receiver: it shows the logger's
// image as the logger runs with a fix, and a click on the logger button stops and starts
// the logger, which the status page follows.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  api, config, launchBrowser, loadChromium, main, startDaemon, startReplay, tempDir, waitForState, writePowerSupply,
} from './support.mjs';

const TIMEOUT = 30000;
const ITEM_WIDTH = 480;
const LOGGER_X = 420;  // the middle of the logger button, in item pixels

await main(async () => {
  const chromium = await loadChromium();
  const root = tempDir();
  const data = path.join(root, 'data');
  const power = path.join(root, 'power');
  const gps = path.join(root, 'gps0');
  writePowerSupply(power, true);
  const replay = await startReplay(root, gps, 600, 5);
  for (const [name, value] of [['Login', 'anna'], ['Password', 'demo'], ['COM', gps], ['ModeP', '2'],
    ['ModeB', '0']]) {
    config(data, name, value);
  }

  const daemon = await startDaemon(data, power);
  const browser = await launchBrowser(chromium, root);
  try {
    const page = browser.pages()[0] || (await browser.newPage());
    page.setDefaultTimeout(TIMEOUT);
    await page.setViewportSize({ width: 900, height: 600 });
    await page.goto(daemon.url);
    const status = page.locator('#status-page');
    const row = page.locator('#today-row');
    const image = (id) => row.locator(`svg image[data-resource="${id}"]`);

    // External power, ModeP 2: the logger runs, and with the replayed fixes its image is
    // the one with a fix (110), left of the settings button.
    await status.getByText('Mode: Logger').waitFor();
    await status.getByText('GPS position fixed').waitFor();
    await image('110').waitFor();
    assert.equal(await image('110').getAttribute('x'), '412');
    const row1 = await row.boundingBox();
    assert.ok(Math.abs(row1.height - row1.width * 24 / ITEM_WIDTH) <= 2,
      `the row keeps its aspect: ${row1.width} x ${row1.height}`);
    if (process.env.KESTRIX_SCREENSHOT) await page.screenshot({ path: process.env.KESTRIX_SCREENSHOT });

    const clickLogger = async () => {
      const box = await row.boundingBox();
      await page.mouse.click(box.x + (LOGGER_X + 0.5) * box.width / ITEM_WIDTH, box.y + box.height / 2);
    };
    await clickLogger();
    await image('132').waitFor();
    await status.getByText('Mode: Disconnected').waitFor();
    let state = await waitForState(daemon, (s) => (s.state & 2) === 0 && !s.receiverRunning, 'the logger stopped');
    assert.equal(state.stoppedByUser, false, 'the item button is no Disable');

    await clickLogger();
    await status.getByText('Mode: Logger').waitFor();
    await image('110').waitFor();
    state = await waitForState(daemon, (s) => (s.state & 2) === 2, 'the logger started again');
    assert.ok(state.receiverRunning);
    assert.equal((await api(daemon, '/api/today')).body.height, 24);
  } finally {
    await browser.close();
    const code = await daemon.stop();
    await replay.stop();
    assert.equal(code, 0, 'kestrix run ends with 0 on SIGTERM: ' + daemon.stderr());
  }
  fs.rmSync(root, { recursive: true, force: true });
});
