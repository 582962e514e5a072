// Shared helpers of the browser tests: one scenario's folders and clean-up, a fake
// power-supply tree, the kestrix programs (config as a command, run as a daemon, the
// reference server, a replayed receiver) and headless Chromium.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const TIMEOUT = 30000;
const BIN = process.env.KESTRIX_BIN;
const SERVER_BIN = process.env.KESTRIX_SERVER_BIN;
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

// Resolves with pred's first truthy value (pred may be async); throws after timeoutMs, naming
// what was awaited and, when given, what last() says of it.
export async function until(pred, what, { timeoutMs = TIMEOUT, last } = {}) {
  for (const end = Date.now() + timeoutMs; ;) {
    const value = await pred();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}` + (last ? `; ${last()}` : ''));
    await new Promise((r) => setTimeout(r, 100));
  }
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

// kestrix config set NAME VALUE for each entry of settings.
export function configure(dataDir, settings) {
  for (const [name, value] of Object.entries(settings)) {
    const r = spawnSync(BIN, ['config', '--data-dir', dataDir, 'set', name, String(value)], { encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`kestrix config set ${name} failed (${r.status}): ${r.stderr}`);
  }
}

// What every child printed, shown when a scenario fails.
const children = [];

// Starts a child and resolves with the first match of re in its output (stdout or stderr)
// once it appears; rejects when the child exits before that or after timeoutMs.
function startChild(bin, args, re, what, timeoutMs = TIMEOUT) {
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
        // stop: SIGTERM, then the exit status (a signal name if it died of one).
        resolve({ match: m, output: () => out, stop: async () => { proc.kill('SIGTERM'); return exited; } });
      }
    };
    proc.stdout.on('data', seen);
    proc.stderr.on('data', seen);
    exited.then((code) => { clearTimeout(timer); reject(new Error(`${what} exited with ${code}: ${out}`)); });
  });
}

// kestrix run on a free loopback port (with further options), resolved once it prints its address.
export async function startDaemon(dataDir, powerRoot, extra = []) {
  // Nothing listens on port 1: a gpsd of the machine must not change what start-up finds.
  const d = await startChild(BIN, ['run', '--data-dir', dataDir, '--http', '127.0.0.1:0', '--power-supply',
    powerRoot, '--gpsd', '1', ...extra], /Kestrix is running: (http:\/\/127\.0\.0\.1:(\d+)\/)/, 'kestrix run', 60000);
  return { ...d, url: d.match[1] };
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

// Pictures of the page at desktop and phone width, full height, as DIR/NAME-WIDTH.png when
// KESTRIX_SCREENSHOT_DIR names a folder; before(width) may ready the page for each.
export async function screenshots(page, name, widths = [1280, 390], before = async () => {}) {
  const dir = process.env.KESTRIX_SCREENSHOT_DIR;
  if (!dir) return;
  fs.mkdirSync(dir, { recursive: true });
  for (const width of widths) {
    await page.setViewportSize({ width, height: width > 400 ? 900 : 844 });
    await before(width);
    await page.screenshot({ path: path.join(dir, `${name}-${width}.png`), fullPage: true });
  }
}

export async function api(daemon, p, init) {
  const r = await fetch(new URL(p, daemon.url), init);
  return { status: r.status, body: await r.json() };
}

// Polls the daemon's state (read on its UI thread) until pred holds.
export async function waitForState(daemon, pred, what) {
  let last;
  return until(async () => pred(last = (await api(daemon, '/api/state')).body) && last, what,
    { last: () => 'last state ' + JSON.stringify(last) });
}

// Runs one scenario in a fresh folder and exits 0 when it passes, 1 with the error (or when
// playwright-core is not installed). The scenario gets s: its folders (s.root; s.data, empty;
// s.power, a supply tree on mains; s.gps, where a replayed receiver appears; s.db, the
// server's database) and starters whose processes are stopped when it ends (the browser,
// then the daemon, then the others newest first):
//   s.open(settings, extra) stores the settings, starts kestrix run (with the options in extra)
//                          and opens a page on it: {daemon, browser, page, close()}; the daemon
//                          must end with 0
//   s.server(listen, web, extra) the reference server (listen ADDR:PORT, port 0 picks a free
//                          one; web the address of its web pages, 'off' for none; extra options):
//                          {host, port, webUrl (with web pages), stop()}
//   s.replay(seconds, rate, start) a generated drive (from start, YYYY-MM-DDTHH:MM:SS UTC, if
//                          given) played at s.gps in a loop (rate times receiver pace), its
//                          capture at s.root/drive.nmea
//   s.atEnd(fn)            runs fn when the scenario ends, before the processes stop
export async function scenario(body) {
  if (!BIN) {
    console.error('KESTRIX_BIN is not set');
    process.exit(2);
  }
  let chromium;
  try {
    chromium = (await import('playwright-core')).chromium;
  } catch (e) {
    console.error('playwright-core is not installed (run npm ci in tests/web): ' + e.message);
    process.exit(1);
  }
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrix-web-'));
  const stops = [];
  const later = (fn, rank = 2) => {
    let done = false;
    const once = async () => { if (!done) { done = true; await fn(); } };
    stops.unshift({ rank, once });
    return once;
  };
  const s = {
    root, data: path.join(root, 'data'), power: path.join(root, 'power'), gps: path.join(root, 'gps0'),
    db: path.join(root, 'server.sqlite'),
    async open(settings = {}, extra = []) {
      configure(s.data, settings);
      const daemon = await startDaemon(s.data, s.power, extra);
      const stopDaemon = later(async () =>
        assert.equal(await daemon.stop(), 0, 'kestrix run ends with 0 on SIGTERM: ' + daemon.output()), 1);
      const browser = await chromium.launchPersistentContext(path.join(root, 'profile'), {
        executablePath: CHROMIUM,
        headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
          '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-proxy-server'],
      });
      const closeBrowser = later(() => browser.close(), 0);
      const page = browser.pages()[0] || (await browser.newPage());
      page.setDefaultTimeout(TIMEOUT);
      await page.goto(daemon.url);
      return { daemon, browser, page, close: async () => { await closeBrowser(); await stopDaemon(); } };
    },
    async server(listen = '127.0.0.1:0', web = 'off', extra = []) {
      if (!SERVER_BIN) throw new Error('KESTRIX_SERVER_BIN is not set');
      const server = await startChild(SERVER_BIN, ['--listen', listen, '--db', s.db, '--web', web, ...extra],
        web === 'off' ? /listening on (127\.\d+\.\d+\.\d+):(\d+)\n/
          : /listening on (127\.\d+\.\d+\.\d+):(\d+)\n[^]*web pages on (http:\/\/\S+\/)\n/,
        'kestrix-server');
      later(server.stop);
      return { ...server, host: server.match[1], port: Number(server.match[2]), webUrl: server.match[3] };
    },
    atEnd(fn) { later(fn, 0); },
    async replay(seconds, rate, start) {
      const capture = path.join(root, 'drive.nmea');
      const r = spawnSync(BIN, ['nmea', 'generate', '--seconds', String(seconds), ...(start ? ['--start', start] : [])],
        { maxBuffer: 1 << 30 });
      if (r.status !== 0) throw new Error(`kestrix nmea generate failed (${r.status}): ${r.stderr}`);
      fs.writeFileSync(capture, r.stdout);
      later((await startChild(BIN, ['nmea', 'replay', capture, '--pty', s.gps, '--rate', String(rate), '--loop'],
        /kestrix nmea replay: .* -> /, 'kestrix nmea replay')).stop);
    },
  };
  fs.mkdirSync(s.data);
  writePowerSupply(s.power, true);
  let failure;
  try {
    await body(s);
  } catch (e) {
    failure = e;
  }
  for (const { once } of stops.sort((a, b) => a.rank - b.rank)) {
    try {
      await once();
    } catch (e) {
      failure ??= e;
    }
  }
  if (failure) {
    console.error('FAIL: ' + (failure.stack ?? failure));
    for (const c of children) console.error(`--- ${c.what} printed:\n${c.output().slice(-4000)}`);
    process.exit(1);
  }
  fs.rmSync(root, { recursive: true, force: true });
  console.log('PASS');
  process.exit(0);
}
