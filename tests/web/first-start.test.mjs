// Start-up on an empty data folder: with no account and no port, start-up shows the settings
// sheet, asks about the GPS port in a message box on the page, shows the sheet again, and
// finishes (the notification appears). The page does not show the sheet yet: nobody answers
// it, so the unattended time-out cancels it.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { api, launchBrowser, loadChromium, main, startDaemon, tempDir, writePowerSupply } from './support.mjs';

const PORT_TEXT = "Application can't automatically detect GPS port. You should select it manually...";

await main(async () => {
  const chromium = await loadChromium();
  const root = tempDir();
  const data = path.join(root, 'data');
  const power = path.join(root, 'power');
  writePowerSupply(power, true);

  const daemon = await startDaemon(data, power, ['--message-box-timeout', '8']);
  const browser = await launchBrowser(chromium, root);
  try {
    const page = browser.pages()[0] || (await browser.newPage());
    page.setDefaultTimeout(30000);
    await page.goto(daemon.url);

    const box = page.locator('.box[role="alertdialog"]');
    await box.waitFor();
    assert.equal(await box.locator('.box-title').innerText(), 'Attention');
    assert.equal(await box.locator('.box-text').innerText(), PORT_TEXT);
    if (process.env.KESTRIX_SCREENSHOT) await page.screenshot({ path: process.env.KESTRIX_SCREENSHOT });

    await box.getByRole('button', { name: 'OK' }).click();
    await box.waitFor({ state: 'detached' });
    await page.locator('#status-page').getByText('Mode:').waitFor();
    assert.equal((await api(daemon, '/api/notification')).status, 200);
  } finally {
    await browser.close();
    const code = await daemon.stop();
    assert.equal(code, 0, 'kestrix run ends with 0 on SIGTERM: ' + daemon.stderr());
  }
  fs.rmSync(root, { recursive: true, force: true });
});
