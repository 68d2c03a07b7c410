// The browser build in Debian's Chromium (software WebGL through SwiftShader) and Firefox ESR (under Xvfb,
// WebGL 2 on llvmpipe), against the native build; BROWSER is chromium or firefox:
//   node browser_test.js BROWSER capture SITE NATIVE_DIR TIMES [SCREENSHOT.png]
//     loads SITE in capture mode at TIMES, compares every frame and the loading picture with the native
//     capture in NATIVE_DIR (made with `quorvane --capture NATIVE_DIR --times TIMES`) and prints the figures;
//   node browser_test.js BROWSER live SITE [SCREENSHOT.png]
//     plays the page with autoplay allowed and checks that the time lines follow the audio clock, the run
//     ends by itself after 32 s with no error on the console, and the page then offers to play again;
//   node browser_test.js BROWSER click SITE NATIVE_DIR [SCREENSHOT.png]
//     the page as browsers usually have it, sound only after a click: the prompt below the loading
//     picture's caption, the click starts the run, Escape ends it, "Play again" loads it afresh (the
//     screenshot shows the prompt, SCREENSHOT-ended.png the page after Escape);
//   node browser_test.js BROWSER missing SITE
//     serves the page without its archive: the page must say "Failed to load " and the program end;
//   node browser_test.js BROWSER nowebgl SITE
//     WebGL turned off: the page must say that the browser lacks WebGL 2;
//   node browser_test.js BROWSER nosound SITE [SCREENSHOT.png]   (Firefox: no sound output it can start)
//     after the click the page must say that it plays without sound.
// Prints "N passed, N failed" at the end; exits 1 on any failure, 3 when the failure was a browser that stopped
// answering: every call to the browser is bounded (see browsers.js), and such a test fails naming the call and
// prints where the browser stood (the last protocol messages, console lines, the browser's own output and the
// states of its processes).
'use strict';
const fs = require('fs');
const path = require('path');
const browsers = require('./browsers');
const {serve} = require('./serve');

const MEAN_LIMIT = 8;    // levels of 255, mean absolute difference over the picture
const BLOCK_LIMIT = 54;  // levels of 255, mean absolute difference of the worst 16 by 16 block
const LOADING_LIMIT = 1;

let passed = 0, failed = 0, browserName = '';
let openBrowser = null;  // the test's browser while it runs, for the report and the clean-up after a failure

async function launch(kind, options) {
  openBrowser = await browsers.launch(kind, options);
  const close = openBrowser.close;
  openBrowser.close = async () => {
    openBrowser = null;
    await close();
  };
  return openBrowser;
}
function check(ok, what) {
  if (ok) passed++; else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} [${browserName}] ${what}`);
}

// Every console message of the page, the errors and warnings also printed.
function watchConsole(page) {
  const messages = [];
  page.onConsole((level, text) => {
    messages.push({level, text, at: Date.now()});
    if (level === 'error' || level === 'warning') console.log(`page ${level}: ${text}`);
  });
  return messages;
}

async function checkQuietConsole(page, messages, what) {
  const own = await page.browserMessages();
  for (const m of own) if (m.level === 'error' || m.level === 'warning') console.log(`browser ${m.level}: ${m.text}`);
  messages = messages.concat(own);
  const errors = messages.filter((m) => m.level === 'error');
  check(errors.length === 0, `no errors on the console ${what}${errors.length ? ` (${errors.length}, first: ${errors[0].text})` : ''}`);
  const webgl = messages.filter((m) => m.level === 'warning' && /webgl|GL_/i.test(m.text));
  check(webgl.length === 0, `no WebGL warnings on the console ${what}${webgl.length ? ` (first: ${webgl[0].text})` : ''}`);
}

// Calls fn every ms until the returned stop(); a call still waiting for its answer is not repeated (presses
// would pile up in a browser that stopped answering).
function every(ms, fn) {
  let busy = false;
  const timer = setInterval(() => {
    if (busy) return;
    busy = true;
    fn().catch(() => {}).finally(() => { busy = false; });
  }, ms);
  return () => clearInterval(timer);
}

// Polls fn(arg) in the page; a page being replaced (a reload) only delays the answer.
async function waitFor(page, fn, arg, timeout) {
  const until = Date.now() + timeout;
  for (;;) {
    try {
      if (await page.evaluate(fn, arg)) return;
    } catch (e) {
      // A browser that does not answer will not answer the next poll either.
      if (e instanceof browsers.NoAnswer || Date.now() > until) throw e;
    }
    if (Date.now() > until) {
      const state = await page.evaluate(() => JSON.stringify({audio: window.Module && Module.audioContext && Module.audioContext.state,
        frames: window.Module && Module.qvFrames, title: document.title})).catch((e) => String(e));
      throw new Error(`timed out after ${timeout / 1000} s waiting for ${fn} (page: ${state})`);
    }
    await new Promise((r) => setTimeout(r, 250));
  }
}

const pageState = () => {
  const element = (id) => document.getElementById(id);
  const shown = (id) => element(id) !== null && getComputedStyle(element(id)).display !== 'none';
  const text = (id) => (shown(id) ? element(id).textContent : null);
  return {
    code: window.qvExitCode, prompt: shown('prompt'), message: text('message') || '', sound: text('sound'),
    ended: shown('ended') ? text('ended-text') : null,
    again: shown('ended') && shown('again') ? element('again').getBoundingClientRect().toJSON() : null,
  };
};

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

async function captureTest(kind, site, nativeDir, times, screenshot) {
  const server = await serve(site, 0);
  const base = `http://127.0.0.1:${server.address().port}/`;
  const browser = await launch(kind);
  const page = await browser.newPage({width: 800, height: 600});
  const messages = watchConsole(page);
  const started = Date.now();
  await page.goto(`${base}index.html?capture&times=${times}`);
  await waitFor(page, () => window.qvCapture !== undefined, null, 600000);
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
  await checkQuietConsole(page, messages, 'during the capture');
  await browser.close();
  server.close();
}

async function liveTest(kind, site, screenshot) {
  const server = await serve(site, 0);
  const browser = await launch(kind);
  const page = await browser.newPage({width: 800, height: 600});
  const messages = watchConsole(page);
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  // Key presses print the time line; one every two seconds.
  const stopPresses = every(2000, () => page.press('KeyT'));
  if (screenshot) setTimeout(() => page.screenshot(screenshot).catch(() => {}), 20000);
  await waitFor(page, () => window.qvExitCode !== undefined, null, 180000);
  stopPresses();
  const ended = await page.evaluate(() => ({code: window.qvExitCode, audio: Module.audioContext && Module.audioContext.currentTime}));
  const times = messages.map((l) => /^time ([0-9.]+)/.exec(l.text)).filter(Boolean).map((m) => Number(m[1]));
  console.log(`live run: ${times.length} time lines, last ${times.length ? times[times.length - 1].toFixed(2) : '-'} s; audio context at ${ended.audio && ended.audio.toFixed(2)} s; exit code ${ended.code}`);
  check(ended.code === 0, 'the live run ends by itself with code 0');
  check(times.length >= 5 && times.every((t, i) => i === 0 || t >= times[i - 1]), 'time lines advance');
  check(ended.audio >= 32, 'the audio clock ran past 32 s');
  await checkQuietConsole(page, messages, 'during the live run');
  const state = await page.evaluate(pageState);
  console.log(`after the end the page says "${state.ended}"${state.again ? ' with a "Play again" button' : ''}`);
  check(state.ended !== null && /end/i.test(state.ended) && state.again !== null && !state.prompt,
        'after the end the page says so and offers to play again');
  await browser.close();
  server.close();
}

// The caption's lowest row in the loading picture (its brightest part is the name and the word under it),
// as a fraction of the picture's height.
async function captionBottom(page, nativeDir) {
  const url = 'data:image/png;base64,' + fs.readFileSync(path.join(nativeDir, 'loading.png')).toString('base64');
  return page.evaluate(async (u) => {
    const img = await createImageBitmap(await (await fetch(u)).blob());
    const c = new OffscreenCanvas(img.width, img.height);
    const g = c.getContext('2d');
    g.drawImage(img, 0, 0);
    const d = g.getImageData(0, 0, img.width, img.height).data;
    for (let y = img.height - 1; y >= 0; --y)
      for (let x = 0; x < img.width; ++x) {
        const i = 4 * (y * img.width + x);
        if (Math.max(d[i], d[i + 1], d[i + 2]) > 128) return (y + 1) / img.height;
      }
    return 0;
  }, url);
}

async function clickTest(kind, site, nativeDir, screenshot) {
  const server = await serve(site, 0);
  const browser = await launch(kind, {autoplay: false});
  const page = await browser.newPage({width: 800, height: 600});
  const messages = watchConsole(page);
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  await waitFor(page, () => getComputedStyle(document.getElementById('prompt')).display !== 'none', null, 120000);
  const caption = await captionBottom(page, nativeDir);
  // The prompt's text against the caption, on pages of a few shapes (the picture keeps 4:3 with black bars).
  const placed = [];
  for (const [w, h] of [[800, 600], [1280, 600], [480, 640], [400, 300]]) {
    await page.resize(w, h);
    await new Promise((r) => setTimeout(r, 300));
    const g = await page.evaluate(() => {
      const range = document.createRange();
      range.selectNodeContents(document.getElementById('prompt'));
      return {text: range.getBoundingClientRect().toJSON(), canvas: document.getElementById('canvas').getBoundingClientRect().toJSON()};
    });
    const ph = Math.min(g.canvas.height, g.canvas.width * 3 / 4);
    const below = g.canvas.top + (g.canvas.height - ph) / 2 + caption * ph;
    console.log(`${w}x${h}: caption ends at ${below.toFixed(1)} px, the prompt's text spans ${g.text.top.toFixed(1)}-${g.text.bottom.toFixed(1)} px`);
    placed.push(g.text.height > 0 && g.text.top >= below && g.text.bottom <= g.canvas.bottom);
  }
  check(placed.every(Boolean), `the prompt sits below the loading picture's caption (its lowest row at ${(caption * 100).toFixed(1)}% of the picture)`);
  await page.resize(800, 600);
  if (screenshot) {
    await new Promise((r) => setTimeout(r, 300));
    await page.screenshot(screenshot);
  }
  await page.click(400, 300);
  const stopPresses = every(1000, () => page.press('KeyT'));
  const runs = await new Promise((resolve) => {
    const until = Date.now() + 60000;
    const poll = setInterval(() => {
      const n = messages.filter((m) => /^time [0-9.]+/.test(m.text)).length;
      if (n >= 3 || Date.now() > until) {
        clearInterval(poll);
        resolve(n >= 3);
      }
    }, 250);
  });
  stopPresses();
  const running = await page.evaluate(pageState);
  check(runs && !running.prompt && running.code === undefined, 'the click starts the run and the prompt goes');
  await page.press('Escape');
  await waitFor(page, () => window.qvExitCode !== undefined, null, 30000);
  const stopped = await page.evaluate(pageState);
  console.log(`after Escape the page says "${stopped.ended}", exit code ${stopped.code}`);
  if (screenshot) await page.screenshot(screenshot.replace(/(\.png)?$/, '-ended.png'));
  check(stopped.code === 0 && stopped.ended !== null && stopped.again !== null,
        'Escape ends the run and the page offers to play again');
  await checkQuietConsole(page, messages, 'in the clicked run');
  // The page as it was is marked: "Play again" must replace it with a fresh one, whose run either waits for
  // its click or (where the browser lets sound start without one after a click on the site) is under way.
  await page.evaluate(() => { window.qvPlayedOnce = true; });
  await page.click(stopped.again.x + stopped.again.width / 2, stopped.again.y + stopped.again.height / 2);
  let again = null;
  try {
    await waitFor(page, () => window.qvPlayedOnce === undefined && window.qvExitCode === undefined &&
                              document.getElementById('prompt') !== null &&
                              (getComputedStyle(document.getElementById('prompt')).display !== 'none' ||
                               (window.Module && Module.qvFrames || 0) > 2), null, 120000);
    again = await page.evaluate(pageState);
  } catch (e) {
    console.log(String(e.message || e));
  }
  check(again !== null && again.ended === null, '"Play again" loads the page afresh and a new run begins');
  await browser.close();
  server.close();
}

async function missingTest(kind, site) {
  const dir = fs.mkdtempSync('/tmp/qv-web-missing-');
  for (const f of fs.readdirSync(site)) if (f !== 'gorvel.yo') fs.copyFileSync(path.join(site, f), path.join(dir, f));
  const server = await serve(dir, 0);
  const browser = await launch(kind);
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  await waitFor(page, () => window.qvExitCode !== undefined, null, 120000);
  const text = await page.evaluate(() => document.getElementById('message').textContent);
  const code = await page.evaluate(() => window.qvExitCode);
  console.log(`missing archive: page says "${text.replace(/\n/g, ' / ')}", exit code ${code}`);
  check(text.startsWith('Failed to load ') && code === 1, 'a missing archive shows "Failed to load " and ends with 1');
  await browser.close();
  server.close();
  fs.rmSync(dir, {recursive: true});
}

async function noWebGLTest(kind, site) {
  const server = await serve(site, 0);
  const browser = await launch(kind, {webgl: false});
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  await waitFor(page, () => window.qvExitCode !== undefined, null, 60000);
  const state = await page.evaluate(pageState);
  console.log(`without WebGL: page says "${state.message.replace(/\n/g, ' / ')}", exit code ${state.code}`);
  check(/lacks WebGL 2/.test(state.message) && state.code === 1, 'without WebGL the page says the browser lacks WebGL 2');
  await browser.close();
  server.close();
}

async function noSoundTest(kind, site, screenshot) {
  const server = await serve(site, 0);
  const browser = await launch(kind, {sound: false, autoplay: false});
  const page = await browser.newPage({width: 800, height: 600});
  const messages = watchConsole(page);
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  await waitFor(page, () => getComputedStyle(document.getElementById('prompt')).display !== 'none', null, 120000);
  await page.click(400, 300);
  const clicked = Date.now();
  let state = null;
  try {
    await waitFor(page, () => getComputedStyle(document.getElementById('sound')).display !== 'none', null, 10000);
    state = await page.evaluate(pageState);
  } catch (e) {
    console.log(String(e.message || e));
  }
  if (screenshot) await page.screenshot(screenshot);
  console.log(`no sound output: ${state ? `after ${((Date.now() - clicked) / 1000).toFixed(1)} s the page says "${state.sound}"` : 'no notice'}`);
  check(state !== null && /^No sound/.test(state.sound) && !state.prompt,
        'without sound output the click leads to a notice that the run plays without sound');
  await checkQuietConsole(page, messages, 'without sound output');
  await browser.close();
  server.close();
}

(async () => {
  const [kind, mode, site, ...rest] = process.argv.slice(2);
  browserName = kind;
  let noAnswer = false;
  try {
    if (mode === 'capture') await captureTest(kind, site, rest[0], rest[1], rest[2]);
    else if (mode === 'live') await liveTest(kind, site, rest[0]);
    else if (mode === 'click') await clickTest(kind, site, rest[0], rest[1]);
    else if (mode === 'missing') await missingTest(kind, site);
    else if (mode === 'nowebgl') await noWebGLTest(kind, site);
    else if (mode === 'nosound') await noSoundTest(kind, site, rest[0]);
    else throw new Error(`unknown mode ${mode}`);
  } catch (e) {
    noAnswer = e instanceof browsers.NoAnswer;
    // The stack of a call that got no answer is only its timer's.
    check(false, String(noAnswer ? `${e.name}: ${e.message}` : e && e.stack || e));
    if (openBrowser) {
      console.log(openBrowser.report());
      await openBrowser.close().catch((err) => console.log(`closing the browser: ${err.message || err}`));
    }
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(noAnswer ? 3 : failed ? 1 : 0);
})();
