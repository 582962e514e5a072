// Shared helpers of the browser tests: temporary folders, a fake power-supply tree, the
// kestrix program (config as a command, run as a daemon) and headless Chromium.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const SKIP = 77;
const BIN = process.env.KESTRIX_BIN;
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

export async function loadChromium() {
  try {
    return (await import('playwright-core')).chromium;
  } catch (e) {
    console.log('SKIP: playwright-core is not installed (run npm ci in tests/web): ' + e.message);
    process.exit(SKIP);
  }
}

export function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'kestrix-web-'));
}

// A folder laid out like /sys/class/power_supply: mains (online or not) and one battery.
export function writePowerSupply(root, mainsOnline) {
  const put = (p, v) => {
    fs.mkdirSync(path.dirname(path.join(root, p)), { recursive: true });
    // Written whole and renamed, so the watcher never reads half a value.
    fs.writeFileSync(path.join(root, p + '.tmp'), v + '\n');
    fs.renameSync(path.join(root, p + '.tmp'), path.join(root, p));
  };
  put('AC/type', 'Mains');
  put('AC/online', mainsOnline ? '1' : '0');
  put('BAT0/type', 'Battery');
  put('BAT0/capacity', '80');
  put('BAT0/capacity_level', 'Normal');
  put('BAT0/status', mainsOnline ? 'Charging' : 'Discharging');
}

export function config(dataDir, name, value) {
  const r = spawnSync(BIN, ['config', '--data-dir', dataDir, 'set', name, value], { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`kestrix config set ${name} failed (${r.status}): ${r.stderr}`);
}

// Starts kestrix run on a free loopback port and resolves once it prints its address.
export function startDaemon(dataDir, powerRoot) {
  // Nothing listens on port 1: a gpsd of the machine must not change what start-up finds.
  const proc = spawn(BIN, ['run', '--data-dir', dataDir, '--http', '127.0.0.1:0', '--power-supply', powerRoot,
    '--gpsd', '1'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  let err = '';
  proc.stderr.on('data', (d) => { err += d; });
  const exited = new Promise((resolve) => proc.on('exit', (code, signal) => resolve(signal ? signal : code)));
  return new Promise((resolve, reject) => {
    let out = '';
    proc.stdout.on('data', (d) => {
      out += d;
      const m = /Kestrix is running: (http:\/\/127\.0\.0\.1:(\d+)\/)/.exec(out);
      if (m) {
        resolve({
          url: m[1],
          stderr: () => err,
          // SIGTERM, then the exit status (a signal name if it died of one).
          stop: async () => { proc.kill('SIGTERM'); return exited; },
          kill: () => proc.kill('SIGKILL'),
        });
      }
    });
    exited.then((code) => reject(new Error(`kestrix run exited with ${code} before serving: ${err}`)));
  });
}

export async function api(daemon, p, init) {
  const r = await fetch(new URL(p, daemon.url), init);
  return { status: r.status, body: await r.json() };
}

// Polls the daemon's state (read on its UI thread) until pred holds.
export async function waitForState(daemon, pred, what, timeoutMs = 30000) {
  const end = Date.now() + timeoutMs;
  let last;
  while (Date.now() < end) {
    last = (await api(daemon, '/api/state')).body;
    if (pred(last)) return last;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`timed out waiting for ${what}; last state ${JSON.stringify(last)}`);
}

export async function launchBrowser(chromium, root) {
  return chromium.launchPersistentContext(path.join(root, 'profile'), {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-proxy-server'],
  });
}

// Runs the scenario; exits 0 on success, 1 with the error otherwise.
export async function main(scenario) {
  if (!BIN) {
    console.error('KESTRIX_BIN is not set');
    process.exit(2);
  }
  try {
    await scenario();
    console.log('PASS');
    process.exit(0);
  } catch (e) {
    console.error('FAIL: ' + (e && e.stack ? e.stack : e));
    process.exit(1);
  }
}
