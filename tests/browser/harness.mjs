// Starts the preview host (scripts/serve: lighttpd running the program as a
// CGI) on a free loopback port, and headless Chromium through playwright-core.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { readFileSync } from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const repo = path.resolve(here, '../..');
const program = process.env.ZV_PROGRAM || path.join(repo, 'build-test/zovuza_vuruvuz');

function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.on('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

// Returns { url, stop }. Waits until the host page answers. `tz` is the
// node's zone, in which the program writes its local stamps.
export async function startHost({ crontab = path.join(here, 'fixture.crontab'), password = '', tz = 'UTC' } = {}) {
  const port = await freePort();
  const args = [path.join(repo, 'scripts/serve'), '--port', String(port), '--program', program, '--crontab', crontab];
  if (password) args.push('--password', password);
  const env = { ...process.env, TZ: tz };
  delete env.VORN_PASSWORD;
  const child = spawn('bash', args, { detached: true, stdio: ['ignore', 'pipe', 'pipe'], env });
  let log = '';
  child.stdout.on('data', (d) => { log += d; });
  child.stderr.on('data', (d) => { log += d; });
  const url = `http://127.0.0.1:${port}`;
  const deadline = Date.now() + 20000;
  for (;;) {
    if (child.exitCode !== null) throw new Error(`preview host exited:\n${log}`);
    try {
      if ((await fetch(url + '/')).ok) break;
    } catch { /* not listening yet */ }
    if (Date.now() > deadline) throw new Error(`preview host did not start:\n${log}`);
    await new Promise((r) => setTimeout(r, 50));
  }
  return {
    url,
    async stop() {
      if (child.exitCode !== null) return;
      const exited = once(child, 'exit');
      process.kill(-child.pid, 'SIGTERM');
      await exited;
    },
  };
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// A page in a fresh context. `storage` is written to local storage before any
// page script runs; every console error and uncaught exception is collected.
// `timezoneId` is the viewer's zone (the machine's when not given).
export async function openPage(browser, { storage = null, viewport = { width: 1100, height: 900 }, colorScheme = 'dark', timezoneId } = {}) {
  const context = await browser.newContext({ viewport, colorScheme, ...(timezoneId ? { timezoneId } : {}) });
  if (storage) {
    await context.addInitScript((s) => {
      for (const [k, v] of Object.entries(s)) localStorage.setItem(k, v);
    }, storage);
  }
  // Chromium asks for a favicon, which the host does not have.
  await context.route((u) => u.pathname === '/favicon.ico', (r) => r.fulfill({ status: 204 }));
  const page = await context.newPage();
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(String(e)));
  return { page, context, errors };
}

// Loads a page; settled() below waits for what the tests look at.
export const visit = (page, url) => page.goto(url, { waitUntil: 'domcontentloaded' });

// Replaces the local storage of origin with the given entries, from a cheap
// JSON answer of that origin, before the next visit.
export async function setStorage(page, origin, storage) {
  await visit(page, origin + '/plugin?action=info');
  await page.evaluate((s) => {
    localStorage.clear();
    for (const [k, v] of Object.entries(s)) localStorage.setItem(k, v);
  }, storage);
}

// Waits until the first job list and the first explanation have come back.
export async function settled(page) {
  await page.waitForFunction(() => {
    const badge = document.getElementById('badge').textContent;
    const ex = document.getElementById('exNote').textContent;
    return badge !== 'loading' && !ex.startsWith('checking') && !ex.startsWith('Accepts');
  });
}

export const text = (page, sel) => page.$eval(sel, (e) => e.textContent);
export const attr = (page, name) => page.evaluate((n) => document.documentElement.getAttribute(n), name);

// Counts, in window.__answers by action, the answers whose body the page has
// read. The page handles an answer in the same run of microtasks, so once a
// count moves the handler of that answer is done.
export const countAnswers = (context) => context.addInitScript(() => {
  window.__answers = { jobs: 0, explain: 0 };
  const read = Response.prototype.text;
  Response.prototype.text = function () {
    const body = read.call(this);
    const action = new URL(this.url).searchParams.get('action');
    const seen = () => { window.__answers[action] = (window.__answers[action] || 0) + 1; };
    body.then(seen, seen);
    return body;
  };
});

// The viewer's clock time of a UTC stamp, "YYYY-MM-DD HH:MM", by the
// browser's Intl zone data.
export const viewerStamp = (page, utc) => page.evaluate((u) => new Intl.DateTimeFormat('sv-SE', {
  year: 'numeric', month: '2-digit', day: '2-digit', hour: '2-digit', minute: '2-digit', hourCycle: 'h23',
}).format(new Date(u)), utc);

const axeSource = readFileSync(path.join(here, 'node_modules/axe-core/axe.min.js'), 'utf8');
// Runs axe-core in the page; returns the violations of impact serious or
// critical as 'rule: target' lines.
export async function seriousViolations(page) {
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.addScriptTag({ content: axeSource });
  const found = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return found.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .flatMap((v) => v.nodes.map((n) => `${v.id}: ${n.target.join(' ')}`));
}
