// Frames per second of the browser build in headless Chromium (software WebGL through SwiftShader) and in
// Firefox ESR under Xvfb (WebGL 2 on llvmpipe), 640 by 480 back buffer in an 800 by 600 page, beside the
// native build on llvmpipe, and the page's download size. Figures only. QV_WEB_BROWSERS chooses browsers.
//   node bench/web/web_bench.js SITE NATIVE_BENCH_PRODUCTION
// The browser's figure is the live page's: frames shown over the run's wall time (the run ends after 32 s
// of music). The native figure is bench_production's rendering-only frame rate at 640 by 480.
'use strict';
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const {execFileSync} = require('child_process');
const {launch} = require(path.join(__dirname, '../../tests/web/browsers'));
const {serve} = require(path.join(__dirname, '../../tests/web/serve'));

async function until(page, fn, timeout) {
  const end = Date.now() + timeout;
  while (!(await page.evaluate(fn))) {
    if (Date.now() > end) throw new Error(`timed out waiting for ${fn}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

const described = {chromium: 'headless Chromium, SwiftShader WebGL 2', firefox: 'Firefox ESR under Xvfb, llvmpipe WebGL 2'};

(async () => {
  const [site, nativeBench] = process.argv.slice(2);
  let raw = 0, gz = 0, br = 0;
  for (const f of fs.readdirSync(site)) {
    if (f === 'gorvel.yo') continue;
    const data = fs.readFileSync(path.join(site, f));
    raw += data.length;
    gz += zlib.gzipSync(data, {level: 9}).length;
    br += zlib.brotliCompressSync(data).length;
  }
  console.log(`page download without the archive: ${(raw / 1e6).toFixed(2)} MB, gzip ${(gz / 1e6).toFixed(2)} MB, brotli ${(br / 1e6).toFixed(2)} MB`);
  console.log(`archive: ${(fs.statSync(path.join(site, 'gorvel.yo')).size / 1e6).toFixed(2)} MB`);

  const server = await serve(site, 0);
  for (const kind of (process.env.QV_WEB_BROWSERS || 'chromium firefox').split(/\s+/).filter(Boolean)) {
    const browser = await launch(kind);
    const page = await browser.newPage({width: 800, height: 600});
    await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
    // From the first frame of the production (the clock started) to the end of the run.
    await until(page, () => (window.Module.qvFrames || 0) > 2, 120000);
    const start = await page.evaluate(() => [Module.qvFrames, performance.now()]);
    await until(page, () => window.qvExitCode !== undefined, 300000);
    const end = await page.evaluate(() => [Module.qvFrames, performance.now()]);
    const fps = (end[0] - start[0]) / ((end[1] - start[1]) / 1000);
    console.log(`browser (${described[kind]}): ${fps.toFixed(1)} frames/s over ${((end[1] - start[1]) / 1000).toFixed(1)} s`);
    await browser.close();
  }
  server.close();

  if (nativeBench) {
    const out = execFileSync(nativeBench, ['60', path.join(__dirname, '../../assets'), '600'], {encoding: 'utf8',
      env: Object.assign({}, process.env, {SDL_AUDIODRIVER: 'dummy', QV_HEADLESS_TEST: '1'})});
    console.log('native (llvmpipe), bench_production:');
    process.stdout.write(out.split('\n').map((l) => '  ' + l).join('\n') + '\n');
  }
})();
