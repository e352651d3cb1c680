// The status page and the night report in a real browser: the system's chromium, driven by
// playwright-core. A short plan runs simulated at a pace a page can follow; the page must show
// the rows and the images change, the rain emergency, fit a phone, and fetch nothing from
// beyond the station; the night report must hold a thumbnail and an HFD point for every image.
//
//   node night_in_browser.mjs NOCTARBEL_CLI [SCREENSHOT_FOLDER]
//
// Exits 77 (skipped) when chromium or playwright-core is not installed (scripts/install-deps.sh
// installs both).

import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { createInterface } from 'node:readline';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import assert from 'node:assert/strict';

const SKIP = 77;
const cli = process.argv[2];
const screenshots = process.argv[3] || process.env.NOCTARBEL_SCREENSHOTS || '';
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

if (!cli) {
  console.error('usage: node night_in_browser.mjs NOCTARBEL_CLI [SCREENSHOT_FOLDER]');
  process.exit(2);
}
if (!existsSync(chromiumPath)) {
  console.log(`skipped: no chromium at ${chromiumPath} (scripts/install-deps.sh installs it)`);
  process.exit(SKIP);
}
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch {
  console.log('skipped: playwright-core is not installed (npm ci in tests/browser; scripts/install-deps.sh does it)');
  process.exit(SKIP);
}

const PLAN = `UT(h);UT(m);UT(s);Object name;RA(h);RA(m);RA(s);DEC(°);DEC(');DEC(");exp.(s);bin/zoom;filter(1..n);number;filename;Pause(s);
17;30;0;Open roof;ZA;;;;;;;;;;;;
17;31;0;M 31;00;42;44.3;41;16;9;60;2;1;3;m31;0;
;;;M 45;03;47;24;24;7;0;30;2;12;2;m45;0;
;;;Close roof;Z0;;;;;;;;;;;;
`;

const work = mkdtempSync(join(tmpdir(), 'noctarbel-browser-'));
const plan = join(work, 'short.csv');
writeFileSync(plan, PLAN);

// A simulated night with the page on a free loopback port; resolves the port once it serves.
function startNight(images, pace, extra) {
  const args = ['--home', join(work, 'home'), 'run', plan, '--simulate', '--start', '2026-12-07 17:29:30',
                '--no-corrections', '--images', images, '--pace', String(pace), '--status-page', '127.0.0.1:0',
                '--json-events', ...extra];
  const child = spawn(cli, args, { env: { ...process.env, TZ: 'UTC' }, stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve({ code, stderr })));
  const port = new Promise((resolve, reject) => {
    createInterface({ input: child.stdout }).on('line', (line) => {
      try {
        const event = JSON.parse(line);
        if (event.event === 'status-page') resolve(event.port);
      } catch { /* not an event */ }
    });
    exited.then(({ code }) => reject(new Error(`the run ended (${code}) before its page served: ${stderr}`)));
  });
  return { child, port, exited };
}

// Every request the pages make must stay on the station (or be the report's own file).
const strays = [];
async function stationOnly(context, port) {
  await context.route('**/*', (route) => {
    const url = new URL(route.request().url());
    const ours = url.protocol === 'data:' || url.protocol === 'file:' ||
                 (url.hostname === '127.0.0.1' && String(url.port) === String(port));
    if (ours) return route.continue();
    strays.push(url.href);
    return route.abort();
  });
}

async function waitFor(what, check, seconds = 60) {
  const until = Date.now() + seconds * 1000;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > until) throw new Error(`gave up waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

const browser = await chromium.launch({ executablePath: chromiumPath, args: ['--no-sandbox'] });
let failed = false;
try {
  // 1. A night that runs to its end: the rows and the images change on the page.
  const images = join(work, 'night');
  const night = startNight(images, 40, []);
  const port = await night.port;
  const desktop = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  await stationOnly(desktop, port);
  const page = await desktop.newPage();
  await page.goto(`http://127.0.0.1:${port}/`);
  const rows = new Set();
  const pictures = new Set();
  await waitFor('two rows and two pictures on the page', async () => {
    const row = await page.textContent('#row');
    if (row && row !== '-') rows.add(row);
    const picture = await page.evaluate(() => {
      const img = document.getElementById('latest');
      return img.complete && img.naturalWidth > 0 ? img.getAttribute('src') : '';
    });
    if (picture) pictures.add(picture);
    if (screenshots && pictures.size === 2 && !existsSync(join(screenshots, 'status-page.png'))) {
      await page.screenshot({ path: join(screenshots, 'status-page.png'), fullPage: true });
    }
    return rows.size >= 2 && pictures.size >= 2;
  });
  const state = await page.getAttribute('#state', 'data-state');
  assert.ok(['waiting', 'running', 'exposing', 'finished'].includes(state), `state ${state}`);

  // A phone: one column, nothing wider than the screen.
  const phone = await browser.newContext({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  await stationOnly(phone, port);
  const small = await phone.newPage();
  await small.goto(`http://127.0.0.1:${port}/`);
  await small.waitForFunction(() => document.getElementById('ut').textContent !== '');
  const layout = await small.evaluate(() => {
    const box = (id) => document.getElementById(id).getBoundingClientRect();
    return { scroll: document.documentElement.scrollWidth, now: box('now'), picture: box('picture') };
  });
  assert.ok(layout.scroll <= 390, `the page is ${layout.scroll} px wide on a 390 px phone`);
  assert.ok(layout.picture.top >= layout.now.bottom - 1, 'the picture comes below the state on a phone');
  await phone.close();

  const ended = await night.exited;
  assert.equal(ended.code, 0, ended.stderr);
  await desktop.close();

  // 2. Rain during the first target: the page shows the emergency (slowly enough to be seen
  // before the clean-up ends the run and its page).
  const rainy = startNight(join(work, 'rain'), 10, ['--rain-at', '2026-12-07 17:31:20']);
  const rainPort = await rainy.port;
  const watching = await browser.newContext();
  await stationOnly(watching, rainPort);
  const rainPage = await watching.newPage();
  await rainPage.goto(`http://127.0.0.1:${rainPort}/`);
  await waitFor('the rain emergency on the page', async () => {
    const banner = await rainPage.isVisible('#banner');
    const text = await rainPage.textContent('#state');
    return banner && /emergency/.test(text);
  });
  await rainy.exited;
  await watching.close();

  // 3. The night report: a thumbnail and an HFD point for every image, the charts.
  const report = await browser.newContext({ viewport: { width: 1100, height: 900 } });
  await stationOnly(report, -1);
  const reportPage = await report.newPage();
  await reportPage.goto(`file://${join(images, 'night.html')}`);
  const files = readdirSync(images).filter((name) => name.endsWith('.fit')).sort();
  assert.equal(files.length, 7, `images: ${files}`);
  const shown = await reportPage.$$eval('figure.thumb', (figures) => figures.map((f) => ({
    file: f.dataset.file, loaded: f.querySelector('img') !== null && f.querySelector('img').naturalWidth > 0 })));
  assert.deepEqual(shown.map((s) => s.file).sort(), files);
  assert.ok(shown.every((s) => s.loaded), 'every thumbnail shows');
  assert.equal(await reportPage.$$eval('#hfd-chart circle.hfd-point', (c) => c.length), files.length);
  assert.equal(await reportPage.$$eval('#timeline-chart rect.row-span', (r) => r.length), 4);
  assert.ok(await reportPage.$$eval('#altitude-chart polyline.altitude', (p) => p.length) >= 2);
  if (screenshots) await reportPage.screenshot({ path: join(screenshots, 'night-report.png'), fullPage: true });
  await report.close();

  assert.deepEqual(strays, [], 'requests that left the station');
  console.log('the status page and the night report work in chromium');
} catch (error) {
  failed = true;
  console.error(error);
} finally {
  await browser.close();
  rmSync(work, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
