// The browsers the tests drive, behind one small interface:
//   const browser = await launch('chromium' | 'firefox', {webgl, sound, autoplay});
//   const page = await browser.newPage({width, height});
//   page.onConsole((level, text) => ...)   level: 'error', 'warning', 'info', 'log' or 'debug'
//   await page.browserMessages()   what the browser itself reported of pages ([{level, text}]: Firefox's WebGL
//                                  warnings, which its console shows but BiDi does not pass on)
//   await page.goto(url); await page.evaluate(fn, arg) (fn's result as JSON); await page.resize(width, height);
//   await page.press('KeyT' | 'Escape'); await page.click(x, y); await page.screenshot(file); await browser.close();
// Chromium (Debian's, software WebGL through SwiftShader) through playwright-core; Firefox ESR (Debian's, under
// a private Xvfb, WebGL 2 on Mesa's llvmpipe) through its WebDriver BiDi server, with the small client below.
// webgl: false turns WebGL off; sound: false gives the browser no sound output it can start; autoplay: false
// lets sound start only after a click on the page (the browsers' usual rule).
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const {spawn} = require('child_process');

async function launch(kind, {webgl = true, sound = true, autoplay = true} = {}) {
  if (kind === 'chromium') return launchChromium(webgl, sound, autoplay);
  if (kind === 'firefox') return launchFirefox(webgl, sound, autoplay);
  throw new Error(`unknown browser ${kind}`);
}

// fn(arg) in the page: the function's source and its argument as JSON, its result back as JSON.
function callExpression(fn, arg) {
  return `(async () => JSON.stringify(await (${fn})(${JSON.stringify(arg)})))()`;
}

// --- Chromium -----------------------------------------------------------------------------------------------

async function launchChromium(webgl, sound, autoplay) {
  const {chromium} = require('playwright-core');
  const args = ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist', '--no-sandbox',
                `--autoplay-policy=${autoplay ? 'no-user-gesture-required' : 'document-user-activation-required'}`];
  if (!webgl) args.push('--disable-webgl', '--disable-3d-apis');
  if (!sound) throw new Error('Chromium always has its fake sound output here');
  const browser = await chromium.launch({executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args});
  return {
    name: 'chromium',
    async newPage({width = 800, height = 600} = {}) {
      const page = await browser.newPage({viewport: {width, height}});
      // Playwright's own evaluation counts as a click on the page (sound could start without one): plain
      // DevTools evaluation instead.
      const devtools = await page.context().newCDPSession(page);
      const types = {error: 'error', warning: 'warning', info: 'info', log: 'log', debug: 'debug'};
      return {
        onConsole(cb) { page.on('console', (m) => cb(types[m.type()] || 'log', m.text())); },
        goto: (url) => page.goto(url),
        async evaluate(fn, arg) {
          const r = await devtools.send('Runtime.evaluate', {expression: callExpression(fn, arg), awaitPromise: true,
                                                             returnByValue: true, userGesture: false});
          if (r.exceptionDetails) throw new Error(`in the page: ${r.exceptionDetails.exception ? r.exceptionDetails.exception.description : r.exceptionDetails.text}`);
          return r.result.value === undefined ? undefined : JSON.parse(r.result.value);
        },
        resize: (w, h) => page.setViewportSize({width: w, height: h}),
        press: (key) => page.keyboard.press(key),
        click: (x, y) => page.mouse.click(x, y),
        screenshot: (file) => page.screenshot({path: file}),
        browserMessages: async () => [],  // Chromium's own warnings come as console messages
      };
    },
    close: () => browser.close(),
  };
}

// --- Firefox ------------------------------------------------------------------------------------------------

// Settings of the test profile: WebGL on Mesa's software rasteriser (the GPU blocklist knows nothing good of
// a virtual X server), sound allowed without a click, and no first-run pages, updates or reports.
function firefoxPrefs(webgl, sound, autoplay) {
  const prefs = {
    'webgl.force-enabled': true,
    'webgl.disabled': !webgl,
    'webgl.disable-fail-if-major-performance-caveat': true,
    'layers.acceleration.force-enabled': true,
    'gfx.webrender.software': true,
    'media.autoplay.default': autoplay ? 0 : 1,
    'media.autoplay.blocking_policy': 0,
    'media.autoplay.block-webaudio': !autoplay,
    'browser.shell.checkDefaultBrowser': false,
    'browser.startup.homepage_override.mstone': 'ignore',
    'datareporting.policy.dataSubmissionEnabled': false,
    'toolkit.telemetry.reportingpolicy.firstRun': false,
    'app.update.disabledForTesting': true,
    'browser.tabs.warnOnClose': false,
    // A failing favicon or script shows on the console like any other page's.
    'devtools.console.stdout.content': false,
  };
  // Sound through PulseAudio only: the private server below, or none at all.
  prefs['media.cubeb.backend'] = 'pulse';
  return Object.entries(prefs).map(([k, v]) => `user_pref(${JSON.stringify(k)}, ${JSON.stringify(v)});\n`).join('');
}

// A private X server; resolves to its display (":N") once it accepts clients.
function startXvfb() {
  return new Promise((resolve, reject) => {
    const x = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                    {stdio: ['ignore', 'ignore', 'pipe', 'pipe']});
    let out = '', err = '';
    x.stderr.on('data', (d) => { err += d; });
    x.stdio[3].on('data', (d) => {
      out += d;
      if (out.includes('\n')) resolve({process: x, display: ':' + out.trim()});
    });
    x.on('exit', (code) => reject(new Error(`Xvfb ended with ${code}: ${err.trim()}`)));
  });
}

// A private PulseAudio server with one sink that plays to nowhere at the pace of a sound card, so that the
// page's audio clock runs on a machine without sound output. Resolves to {server, stop()}.
async function startPulse() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-pulse-'));
  const socket = path.join(dir, 'native');
  fs.mkdirSync(path.join(dir, 'pulse'));
  fs.writeFileSync(path.join(dir, 'pulse', 'daemon.conf'), 'flat-volumes = no\n');
  fs.writeFileSync(path.join(dir, 'client.conf'), 'autospawn = no\nenable-shm = no\nenable-memfd = no\n');
  fs.writeFileSync(path.join(dir, 'server.pa'),
                   `load-module module-native-protocol-unix auth-anonymous=1 socket=${socket}\n` +
                   'load-module module-null-sink sink_name=nowhere rate=48000 format=s16le channels=2\n' +
                   'set-default-sink nowhere\n');
  // Nothing of the user's or the system's configuration: the script above is the whole set-up.
  const env = {...process.env, HOME: dir, XDG_RUNTIME_DIR: dir, XDG_CONFIG_HOME: dir,
               PULSE_RUNTIME_PATH: path.join(dir, 'runtime'), PULSE_STATE_PATH: path.join(dir, 'state'),
               PULSE_CLIENTCONFIG: path.join(dir, 'client.conf')};
  delete env.DBUS_SESSION_BUS_ADDRESS;
  const server = spawn('pulseaudio', ['-n', `--file=${path.join(dir, 'server.pa')}`, '--daemonize=no', '--system=false',
                                      '--exit-idle-time=-1', '--use-pid-file=false', '--log-target=stderr',
                                      '--log-level=warning', '--realtime=false', '--high-priority=false',
                                      '--disable-shm=true'], {env, stdio: ['ignore', 'ignore', 'pipe']});
  let log = '';
  server.stderr.on('data', (d) => { log += d; });
  const stop = () => {
    server.kill();
    fs.rmSync(dir, {recursive: true, force: true});
  };
  for (let i = 0; i < 100; ++i) {
    if (server.exitCode !== null) break;
    if (fs.existsSync(socket)) return {server: `unix:${socket}`, clientConfig: path.join(dir, 'client.conf'), stop};
    await new Promise((r) => setTimeout(r, 50));
  }
  stop();
  throw new Error(`the private PulseAudio server did not start: ${log.trim()}`);
}

// A minimal WebDriver BiDi client: commands with ids, events to listeners.
function bidiClient(url) {
  const WebSocketClass = globalThis.WebSocket || require('playwright-core/lib/utilsBundle').ws;
  return new Promise((resolve, reject) => {
    const socket = new WebSocketClass(url);
    const pending = new Map();
    const listeners = [];
    let nextId = 1;
    socket.onerror = (e) => reject(new Error(`BiDi connection: ${e.message || e.type}`));
    socket.onclose = () => {
      for (const {fail} of pending.values()) fail(new Error('the browser closed its BiDi connection'));
      pending.clear();
    };
    socket.onmessage = (e) => {
      const m = JSON.parse(String(e.data));
      if (m.id !== undefined && pending.has(m.id)) {
        const {done, fail, method} = pending.get(m.id);
        pending.delete(m.id);
        if (m.type === 'error') fail(new Error(`${method}: ${m.error}: ${m.message}`));
        else done(m.result);
      } else if (m.type === 'event') {
        for (const l of listeners) l(m.method, m.params);
      }
    };
    socket.onopen = () => resolve({
      send(method, params = {}) {
        const id = nextId++;
        return new Promise((done, fail) => {
          pending.set(id, {done, fail, method});
          socket.send(JSON.stringify({id, method, params}));
        });
      },
      on(l) { listeners.push(l); },
      close() { socket.close(); },
    });
  });
}

const bidiKeys = {Escape: '\uE00C', Enter: '\uE007', Space: ' '};

async function launchFirefox(webgl, sound, autoplay) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-firefox-'));
  fs.writeFileSync(path.join(profile, 'user.js'), firefoxPrefs(webgl, sound, autoplay));
  let xvfb = null, pulse = null, firefox = null, bidi = null;
  // Everything started here ends with the browser, or at once when the start fails.
  const cleanUp = async () => {
    if (bidi) {
      await bidi.send('browser.close').catch(() => {});
      bidi.close();
    }
    if (firefox) {
      await new Promise((r) => {
        if (firefox.exitCode !== null || firefox.signalCode !== null) return r();
        const t = setTimeout(() => { firefox.kill('SIGKILL'); r(); }, bidi ? 10000 : 0);
        firefox.on('exit', () => { clearTimeout(t); r(); });
      });
    }
    if (xvfb) xvfb.process.kill();
    if (pulse) pulse.stop();
    fs.rmSync(profile, {recursive: true, force: true});
  };
  try {
    xvfb = await startXvfb();
    const env = {...process.env, DISPLAY: xvfb.display, MOZ_CRASHREPORTER_DISABLE: '1', LIBGL_ALWAYS_SOFTWARE: '1'};
    delete env.WAYLAND_DISPLAY;
    pulse = sound ? await startPulse() : null;
    env.PULSE_SERVER = pulse ? pulse.server : `unix:${path.join(profile, 'no-sound-server')}`;
    if (pulse) env.PULSE_CLIENTCONFIG = pulse.clientConfig;
    firefox = spawn(process.env.FIREFOX || '/usr/bin/firefox-esr',
                    ['--no-remote', '--new-instance', '--profile', profile, '--remote-debugging-port=0',
                     '--remote-allow-system-access', 'about:blank'],
                    {env, stdio: ['ignore', 'ignore', 'pipe']});
    let log = '';
    const endpoint = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`Firefox did not start its BiDi server: ${log.slice(-500)}`)),
                               60000);
      firefox.stderr.on('data', (d) => {
        log += d;
        const m = /WebDriver BiDi listening on (ws:\/\/\S+)/.exec(log);
        if (m) {
          clearTimeout(timer);
          resolve(m[1]);
        }
      });
      firefox.on('exit', (code) => reject(new Error(`Firefox ended with ${code}: ${log.slice(-500)}`)));
    });
    bidi = await bidiClient(endpoint.replace(/\/?$/, '/session'));
    await bidi.send('session.new', {capabilities: {alwaysMatch: {acceptInsecureCerts: true}}});
    await bidi.send('session.subscribe', {events: ['log.entryAdded']});
  } catch (e) {
    await cleanUp();
    throw e;
  }
  const consoles = new Map();  // browsing context -> console callback
  bidi.on((method, p) => {
    if (method !== 'log.entryAdded') return;
    const cb = consoles.get(p.source && p.source.context);
    if (cb) cb(p.level === 'warn' ? 'warning' : p.level, p.text || '');
  });
  return {
    name: 'firefox',
    async newPage({width = 800, height = 600} = {}) {
      const {context} = await bidi.send('browsingContext.create', {type: 'tab'});
      await bidi.send('browsingContext.setViewport', {context, viewport: {width, height}});
      const evaluate = async (fn, arg) => {
        const r = await bidi.send('script.evaluate', {expression: callExpression(fn, arg), target: {context},
                                                      awaitPromise: true, resultOwnership: 'none'});
        if (r.type === 'exception') throw new Error(`in the page: ${r.exceptionDetails.text}`);
        return r.result.type === 'string' ? JSON.parse(r.result.value) : undefined;
      };
      const actions = (list) => bidi.send('input.performActions', {context, actions: list});
      return {
        onConsole(cb) { consoles.set(context, cb); },
        goto: (url) => bidi.send('browsingContext.navigate', {context, url, wait: 'complete'}),
        evaluate,
        resize: (w, h) => bidi.send('browsingContext.setViewport', {context, viewport: {width: w, height: h}}),
        async press(key) {
          const value = bidiKeys[key] || (/^Key[A-Z]$/.test(key) ? key.slice(3).toLowerCase() : key);
          await actions([{type: 'key', id: 'keyboard',
                          actions: [{type: 'keyDown', value}, {type: 'keyUp', value}]}]);
        },
        async click(x, y) {
          await actions([{type: 'pointer', id: 'mouse', parameters: {pointerType: 'mouse'},
                          actions: [{type: 'pointerMove', x: Math.round(x), y: Math.round(y)},
                                    {type: 'pointerDown', button: 0}, {type: 'pointerUp', button: 0}]}]);
        },
        async screenshot(file) {
          const {data} = await bidi.send('browsingContext.captureScreenshot', {context});
          fs.writeFileSync(file, Buffer.from(data, 'base64'));
        },
        async browserMessages() {
          // The browser's console service, read in its own (privileged) window: reports of web content.
          const tree = await bidi.send('browsingContext.getTree', {'moz:scope': 'chrome'});
          const expression = `JSON.stringify(Services.console.getMessageArray()
              .filter((m) => m instanceof Ci.nsIScriptError && !m.isFromChromeContext)
              .map((m) => ({level: m.flags & Ci.nsIScriptError.warningFlag ? 'warning' : 'error', text: m.errorMessage})))`;
          const r = await bidi.send('script.evaluate', {expression, target: {context: tree.contexts[0].context},
                                                        awaitPromise: false, resultOwnership: 'none'});
          if (r.type === 'exception') throw new Error(`the browser's console: ${r.exceptionDetails.text}`);
          return JSON.parse(r.result.value);
        },
      };
    },
    close: cleanUp,
  };
}

module.exports = {launch};
