// The browser build in Debian's Chromium (software WebGL), against the native build:
//   node browser_test.js capture SITE NATIVE_DIR TIMES [SCREENSHOT.png]
//     loads SITE in capture mode at TIMES, compares every frame and the loading picture with the native
//     capture in NATIVE_DIR (made with `quorvane --capture NATIVE_DIR --times TIMES`) and prints the figures;
//   node browser_test.js live SITE [SCREENSHOT.png]
//     plays the page with autoplay allowed and checks that the time lines follow the audio clock and the
//     run ends by itself after 32 s;
//   node browser_test.js missing SITE
//     serves the page without its archive: the page must say "Failed to load " and the program end.
// Prints "N passed, N failed" at the end; exits 1 on any failure.
'use strict';
const fs = require('fs');
const path = require('path');
const {chromium} = require('playwright-core');
const {serve} = require('./serve');

const MEAN_LIMIT = 8;    // levels of 255, mean absolute difference over the picture
const BLOCK_LIMIT = 54;  // levels of 255, mean absolute difference of the worst 16 by 16 block
const LOADING_LIMIT = 1;

let passed = 0, failed = 0;
function check(ok, what) {
  if (ok) passed++; else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
}

async function launch() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist',
           '--autoplay-policy=no-user-gesture-required', '--no-sandbox'],
  });
}

// Mean and worst 16x16 block of |a - b| over RGB, in levels of 255, computed in the page from two PNGs.
async function compare(page, aUrl, bUrl) {
  return page.evaluate(async ([a, b]) => {
    async function pixels(url) {
      const img = await createImageBitmap(await (await fetch(url)).blob(), {colorSpaceConversion: 'none'});
      const c = new OffscreenCanvas(img.width, img.height);
      const g = c.getContext('2d', {colorSpace: 'srgb'});
      g.drawImage(img, 0, 0);
      return {w: img.width, h: img.height, d: g.getImageData(0, 0, img.width, img.height).data};
    }
    const pa = await pixels(a), pb = await pixels(b);
    if (pa.w !== pb.w || pa.h !== pb.h) return {error: `sizes ${pa.w}x${pa.h} and ${pb.w}x${pb.h}`};
    let sum = 0, worst = 0;
    const bw = Math.ceil(pa.w / 16), bh = Math.ceil(pa.h / 16);
    const blocks = new Float64Array(bw * bh), counts = new Float64Array(bw * bh);
    for (let y = 0; y < pa.h; ++y)
      for (let x = 0; x < pa.w; ++x) {
        const i = 4 * (y * pa.w + x);
        const d = (Math.abs(pa.d[i] - pb.d[i]) + Math.abs(pa.d[i + 1] - pb.d[i + 1]) + Math.abs(pa.d[i + 2] - pb.d[i + 2])) / 3;
        sum += d;
        const k = (y >> 4) * bw + (x >> 4);
        blocks[k] += d;
        counts[k]++;
      }
    for (let k = 0; k < blocks.length; ++k) worst = Math.max(worst, blocks[k] / counts[k]);
    return {mean: sum / (pa.w * pa.h), block: worst};
  }, [aUrl, bUrl]);
}

async function captureTest(site, nativeDir, times, screenshot) {
  const server = await serve(site, 0);
  const base = `http://127.0.0.1:${server.address().port}/`;
  const browser = await launch();
  const page = await browser.newPage({viewport: {width: 800, height: 600}});
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') console.log(`page: ${m.text()}`); });
  const started = Date.now();
  await page.goto(`${base}index.html?capture&times=${times}`);
  await page.waitForFunction(() => window.qvCapture !== undefined, null, {timeout: 600000, polling: 500});
  const frames = await page.evaluate(() => window.qvCapture);
  console.log(`browser capture of ${times}: ${((Date.now() - started) / 1000).toFixed(1)} s`);
  const toUrl = (file) => 'data:image/png;base64,' + fs.readFileSync(file).toString('base64');
  const list = times.split(',');
  const names = ['loading.png'].concat(list.map((_, n) => `frame_${String(n).padStart(5, '0')}.png`));
  for (const name of names) {
    const nativeFile = path.join(nativeDir, name);
    if (!frames[name] || !fs.existsSync(nativeFile)) {
      check(false, `${name}: missing in the ${frames[name] ? 'native' : 'browser'} capture`);
      continue;
    }
    const r = await compare(page, frames[name], toUrl(nativeFile));
    if (r.error) {
      check(false, `${name}: ${r.error}`);
      continue;
    }
    const loading = name === 'loading.png';
    const label = loading ? 'loading picture' : `t = ${list[names.indexOf(name) - 1]} s`;
    console.log(`${label}: mean ${r.mean.toFixed(2)}/255, worst 16x16 block ${r.block.toFixed(2)}/255`);
    if (loading) check(r.mean <= LOADING_LIMIT && r.block <= LOADING_LIMIT, `${label} within ${LOADING_LIMIT}/255`);
    else check(r.mean <= MEAN_LIMIT && r.block <= BLOCK_LIMIT, `${label} within mean ${MEAN_LIMIT}, block ${BLOCK_LIMIT}`);
    if (screenshot && !loading && name === names[names.length - 1])
      fs.writeFileSync(screenshot, Buffer.from(frames[name].split(',')[1], 'base64'));
  }
  await browser.close();
  server.close();
}

async function liveTest(site, screenshot) {
  const server = await serve(site, 0);
  const browser = await launch();
  const page = await browser.newPage({viewport: {width: 800, height: 600}});
  const lines = [];
  page.on('console', (m) => lines.push({text: m.text(), at: Date.now()}));
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  // Key presses print the time line; one every two seconds.
  const presses = setInterval(() => page.keyboard.press('KeyT').catch(() => {}), 2000);
  if (screenshot) setTimeout(() => page.screenshot({path: screenshot}).catch(() => {}), 20000);
  await page.waitForFunction(() => window.qvExitCode !== undefined, null, {timeout: 180000, polling: 500});
  clearInterval(presses);
  const ended = await page.evaluate(() => ({code: window.qvExitCode, audio: Module.audioContext && Module.audioContext.currentTime}));
  const times = lines.map((l) => /^time ([0-9.]+)/.exec(l.text)).filter(Boolean).map((m) => Number(m[1]));
  console.log(`live run: ${times.length} time lines, last ${times.length ? times[times.length - 1].toFixed(2) : '-'} s; audio context at ${ended.audio && ended.audio.toFixed(2)} s; exit code ${ended.code}`);
  check(ended.code === 0, 'the live run ends by itself with code 0');
  check(times.length >= 5 && times.every((t, i) => i === 0 || t >= times[i - 1]), 'time lines advance');
  check(ended.audio >= 32, 'the audio clock ran past 32 s');
  await browser.close();
  server.close();
}

async function missingTest(site) {
  const dir = fs.mkdtempSync('/tmp/qv-web-missing-');
  for (const f of fs.readdirSync(site)) if (f !== 'gorvel.yo') fs.copyFileSync(path.join(site, f), path.join(dir, f));
  const server = await serve(dir, 0);
  const browser = await launch();
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  await page.waitForFunction(() => window.qvExitCode !== undefined, null, {timeout: 120000, polling: 250});
  const text = await page.evaluate(() => document.getElementById('message').textContent);
  const code = await page.evaluate(() => window.qvExitCode);
  console.log(`missing archive: page says "${text.replace(/\n/g, ' / ')}", exit code ${code}`);
  check(text.startsWith('Failed to load ') && code === 1, 'a missing archive shows "Failed to load " and ends with 1');
  await browser.close();
  server.close();
  fs.rmSync(dir, {recursive: true});
}

(async () => {
  const [mode, site, ...rest] = process.argv.slice(2);
  try {
    if (mode === 'capture') await captureTest(site, rest[0], rest[1], rest[2]);
    else if (mode === 'live') await liveTest(site, rest[0]);
    else if (mode === 'missing') await missingTest(site);
    else throw new Error(`unknown mode ${mode}`);
  } catch (e) {
    check(false, String(e && e.stack || e));
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
