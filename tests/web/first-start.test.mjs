// A new user's first start, in the browser: with no account and no port the settings sheet
// opens at Account and refuses an empty login, then one the settings refuse; the
// registration link opens the tracking server's form in a new tab, whose account then
// logs in; after the detection warning the sheet shows the GPS page, where the person
// picks the port, and the tracker runs. Then "Settings" from the status page: a mode bit
// of the Power profile, the point-count trackbar and a new folder from the folder chooser
// are stored, and only they; Cancel changes nothing.
//
// The data folder holds only the machine's set-up: the tracking server's address (on a
// loopback address of its own, so its web pages on port 1280 never meet another server's)
// and the port map that names the replayed receiver COM4:, which appears only once start-up
// has looked for a receiver.
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { readRegistry, scenario, serverExport, until, waitForState } from './support.mjs';

const NO_PORT = "Application can't automatically detect GPS port. You should select it manually...";

// The settings a person edits: what the session writes itself (its user id, the last
// track point sent, the offline store's file) is left out.
function edited(registry) {
  const { user_id: _user, LastTrkPt: _last, OfflineTrkName: _offline, ...rest } = registry;
  return rest;
}

await scenario(async (s) => {
  const host = `127.${1 + crypto.randomInt(254)}.${crypto.randomInt(256)}.${1 + crypto.randomInt(254)}`;
  const server = await s.server(`${host}:0`, `${host}:1280`);
  fs.writeFileSync(path.join(s.data, 'registry.reg'), 'Windows Registry Editor Version 5.00\n\n' +
    `[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger]\n"Host"="${host}"\n` +
    `"Port"=dword:${server.port.toString(16).padStart(8, '0')}\n\n` +
    `[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix\\Ports]\n"COM4:"="${s.gps}"\n`);
  const { daemon, browser, page } = await s.open();
  const top = page.locator('.dlg:not([inert])');
  const tab = page.locator('.dlg-tabs [aria-selected="true"]');
  const box = page.locator('.box[role="alertdialog"]');
  const answerBox = async (text) => {
    assert.equal(await box.locator('.box-text').innerText(), text);
    await box.getByRole('button', { name: 'OK' }).click();
    await box.waitFor({ state: 'detached' });
  };

  // The sheet asks for the account, and Done with an empty login says why it stays.
  await top.getByLabel('Login').waitFor();
  assert.equal(await tab.innerText(), 'Account');
  await top.getByRole('button', { name: 'Done' }).click();
  await box.waitFor();
  assert.ok(await page.locator('.dialogs').evaluate((el) => el.inert), 'the box is above the sheet');
  if (process.env.KESTRIX_SCREENSHOT) await page.screenshot({ path: process.env.KESTRIX_SCREENSHOT });
  await answerBox('Login should not be empty');
  // A login the settings refuse, since the log is named after it, is refused with the reason.
  await top.getByLabel('Login').fill('ka/te');
  await top.getByLabel('Password').fill('secret');
  await top.getByRole('button', { name: 'Done' }).click();
  await answerBox('Login cannot hold / or \\: the track log is named after it');
  const shown = JSON.stringify((await fetch(new URL('/api/dialogs', daemon.url)).then((r) => r.json())).dialogs);
  assert.ok(shown.includes('"length":6') && !shown.includes('secret'), 'a password edit shows its length, never its text');

  // "Click here!" opens the server's form in a new tab; it creates the account.
  const [form] = await Promise.all([browser.waitForEvent('page'),
    top.getByRole('link', { name: "Don't have an account? Click here!" }).click()]);
  await form.waitForLoadState();
  assert.equal(form.url(), `http://${host}:1280/mobile/register`);
  await form.getByLabel('Login').fill('kate');
  await form.getByLabel('Password', { exact: true }).fill('secret');
  await form.getByLabel('Password again').fill('secret');
  await form.getByRole('button', { name: 'Create account' }).click();
  await form.getByText('The account kate is ready.').waitFor();
  await form.close();

  await top.getByLabel('Login').fill('kate');
  await top.getByLabel('Password').fill('secret');
  await top.getByRole('button', { name: 'Done' }).click();

  // No receiver answered at start-up: the warning, then the GPS page.
  await box.waitFor();
  await answerBox(NO_PORT);
  await until(async () => (await tab.count()) === 1 && (await tab.innerText()) === 'GPS', 'the GPS page');
  await s.replay(600, 5);
  await top.getByLabel('COM port').selectOption('COM4:');
  await top.getByRole('button', { name: 'Done' }).click();
  await top.waitFor({ state: 'detached' });

  const digest = crypto.createHash('md5').update('secret').digest('hex');
  const first = await until(() => {
    const r = readRegistry(s.data);
    return r.Login === 'kate' && r.COM === 'COM4:' && r;
  }, 'the account and the port in registry.reg');
  assert.equal(first.Password, digest);
  assert.equal(first.LOG, '\\kate.log');
  // The tracker is up once it has logged in with the first fix.
  await waitForState(daemon, (s) => (s.state & 3) === 3, 'the tracker and the logger');
  const status = page.locator('#status-page');
  await status.getByText('Mode: Tracker/Logger').waitFor();
  await until(() => serverExport(s.db, 'kate').some((p) => p.kind === 'live'),
    'a live position of kate on the server');

  // Settings: a shorter point count, the Power profile without the tracker, a new folder.
  const before = readRegistry(s.data);
  await page.locator('#status-page [name="cmd:40004"], #status-page [href="cmd:40004"]').first().click();
  await top.getByLabel('Profile').waitFor();
  assert.equal(await tab.innerText(), 'Mode');

  await top.getByRole('tab', { name: 'Track' }).click();
  const bar = top.locator('.c-range').first();
  const { x, y, width, height } = await bar.boundingBox();
  await page.mouse.move(x + width * 0.5, y + height / 2);
  await page.mouse.down();
  await page.mouse.move(x + width * 0.3, y + height / 2, { steps: 8 });
  await page.mouse.up();
  // Once the dialog holds the thumb where it was let go, the page shows its count.
  const released = Number(await bar.inputValue());
  assert.ok(released > 0 && released < 40, `the thumb let go at ${released}`);
  const points = await until(async () => {
    const { controls } = (await (await fetch(new URL('/api/dialogs', daemon.url))).json()).dialogs[0];
    return controls.some((c) => c.id === 1050 && c.pos === released) && controls.find((c) => c.id === 1057).text;
  }, 'the trackbar to take the position');
  await top.locator('[data-control="1057"]').getByText(points, { exact: true }).waitFor();

  await top.getByRole('tab', { name: 'Mode' }).click();
  await top.getByLabel('Profile').selectOption('Power');
  await top.getByLabel('Tracker').uncheck();
  await top.getByRole('button', { name: '...' }).click();
  const chooser = top.filter({ hasText: 'Select Folder' });
  await chooser.locator('.t-label', { hasText: /^\\$/ }).click();
  await chooser.getByLabel('New folder:').fill('Tracks');
  await chooser.getByRole('button', { name: 'Create' }).click();
  await chooser.locator('[aria-selected="true"] > .t-row .t-label', { hasText: 'Tracks' }).waitFor();
  await chooser.getByRole('button', { name: 'Done' }).click();
  await chooser.waitFor({ state: 'detached' });
  await top.locator('[data-control="1011"]', { hasText: '\\Tracks\\kate.log' }).waitFor();
  await top.getByRole('button', { name: 'Done' }).click();

  const after = await until(() => {
    const r = readRegistry(s.data);
    return r.ModeP !== before.ModeP && r;
  }, 'the changed settings in registry.reg');
  assert.deepEqual(edited(after), {
    ...edited(before),
    ModeP: 'dword:00000002',
    AutoTrkPointCount: 'dword:' + Number(points).toString(16).padStart(8, '0'),
    LOG: '\\Tracks\\kate.log',
  });
  // The services restarted with them: the logger alone, writing into the new folder.
  await waitForState(daemon, (s) => s.state === 2 && !s.sessionRunning, 'the logger alone');
  await until(() => fs.existsSync(path.join(s.data, 'Tracks', 'kate.log')), 'the log in the new folder');

  // Cancel changes nothing.
  await page.locator('#status-page [name="cmd:40004"], #status-page [href="cmd:40004"]').first().click();
  await top.getByLabel('Profile').selectOption('Power');
  await top.getByLabel('Tracker').check();
  await top.getByRole('button', { name: 'Cancel' }).click();
  await top.waitFor({ state: 'detached' });
  await waitForState(daemon, (s) => s.state === 2, 'the services after Cancel');
  assert.deepEqual(edited(readRegistry(s.data)), edited(after));
});
