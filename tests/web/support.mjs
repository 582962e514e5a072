// Shared helpers of the browser tests: temporary folders, a fake power-supply tree, the
// kestrix program (config as a command, run as a daemon) and headless Chromium.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const SKIP = 77;
const BIN = process.env.KESTRIX_BIN;
const SERVER_BIN = process.env.KESTRIX_SERVER_BIN;
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

// What every child printed, shown when a scenario fails.
const children = [];

// Starts a child and resolves with the first match of re in its output (stdout or stderr)
// once it appears; rejects when the child exits before that or after timeoutMs.
function startChild(bin, args, re, what, timeoutMs = 30000) {
  const proc = spawn(bin, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  children.push({ what, output: () => out });
  const exited = new Promise((resolve) => proc.on('exit', (code, signal) => resolve(signal ? signal : code)));
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${what} did not start within ${timeoutMs} ms: ${out}`)),
      timeoutMs);
    const seen = (d) => {
      out += d;
      const m = re.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({
          match: m,
          output: () => out,
          // SIGTERM, then the exit status (a signal name if it died of one).
          stop: async () => { proc.kill('SIGTERM'); return exited; },
          kill: () => proc.kill('SIGKILL'),
        });
      }
    };
    proc.stdout.on('data', seen);
    proc.stderr.on('data', seen);
    exited.then((code) => { clearTimeout(timer); reject(new Error(`${what} exited with ${code}: ${out}`)); });
  });
}

// Starts kestrix run on a free loopback port and resolves once it prints its address.
export async function startDaemon(dataDir, powerRoot, extra = []) {
  // Nothing listens on port 1: a gpsd of the machine must not change what start-up finds.
  const d = await startChild(BIN, ['run', '--data-dir', dataDir, '--http', '127.0.0.1:0', '--power-supply',
    powerRoot, '--gpsd', '1', ...extra], /Kestrix is running: (http:\/\/127\.0\.0\.1:(\d+)\/)/, 'kestrix run', 60000);
  return { ...d, url: d.match[1], stderr: d.output };
}

// The reference tracking server on loopback: listen is ADDR:PORT (port 0 picks a free one),
// web the address of its web pages ('off' for none).
export async function startServer(db, listen = '127.0.0.1:0', web = 'off') {
  if (!SERVER_BIN) throw new Error('KESTRIX_SERVER_BIN is not set');
  const s = await startChild(SERVER_BIN, ['--listen', listen, '--db', db, '--web', web],
    web === 'off' ? /listening on (127\.\d+\.\d+\.\d+):(\d+)\n/ : /listening on (127\.\d+\.\d+\.\d+):(\d+)\n[^]*web pages on /,
    'kestrix-server');
  return { ...s, host: s.match[1], port: Number(s.match[2]) };
}

// kestrix-server as a command on the database; throws when it fails.
export function serverCommand(db, ...args) {
  const r = spawnSync(SERVER_BIN, ['--db', db, ...args], { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`kestrix-server ${args.join(' ')} failed (${r.status}): ${r.stderr}`);
  return r.stdout;
}

// What the server stored for a user, oldest first.
export function serverExport(db, name) {
  return serverCommand(db, 'export', name).split('\n').filter((l) => l !== '').map((l) => JSON.parse(l));
}

// A generated drive (seconds long) played into a pseudo-terminal linked at link, rate
// times receiver pace, in a loop; resolves once the link is in place.
export async function startReplay(root, link, seconds, rate) {
  const capture = path.join(root, 'drive.nmea');
  const r = spawnSync(BIN, ['nmea', 'generate', '--seconds', String(seconds)], { maxBuffer: 1 << 30 });
  if (r.status !== 0) throw new Error(`kestrix nmea generate failed (${r.status}): ${r.stderr}`);
  fs.writeFileSync(capture, r.stdout);
  return startChild(BIN, ['nmea', 'replay', capture, '--pty', link, '--rate', String(rate), '--loop'],
    /kestrix nmea replay: .* -> /, 'kestrix nmea replay');
}

// The values of one key of a registry.reg file (text as text, dword and hex as written).
export function readRegistry(dataDir, key = 'SOFTWARE\\Geomira\\GmrLogger') {
  const values = {};
  let inKey = false;
  for (const line of fs.readFileSync(path.join(dataDir, 'registry.reg'), 'utf8').split(/\r?\n/)) {
    if (line.startsWith('[')) inKey = line === `[HKEY_LOCAL_MACHINE\\${key}]`;
    const m = inKey && /^"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|(.*))$/.exec(line);
    if (m) values[m[1]] = m[2] !== undefined ? m[2].replace(/\\(.)/g, '$1') : m[3];
  }
  return values;
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
    for (const c of children) console.error(`--- ${c.what} printed:\n${c.output().slice(-4000)}`);
    process.exit(1);
  }
}
