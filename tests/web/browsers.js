// The browsers the tests drive, behind one small interface:
//   const browser = await launch('chromium' | 'firefox', {webgl, sound, autoplay});
//   const page = await browser.newPage({width, height});
//   page.onConsole((level, text) => ...)   level: 'error', 'warning', 'info', 'log' or 'debug'
//   await page.browserMessages()   what the browser itself reported of pages ([{level, text}]: Firefox's WebGL
//                                  warnings, which its console shows but BiDi does not pass on)
//   await page.goto(url); await page.evaluate(fn, arg) (fn's result as JSON); await page.resize(width, height);
//   await page.press('KeyT' | 'Escape'); await page.click(x, y); await page.screenshot(file); await browser.close();
//   browser.report()   where the browser stood: calls still waiting for an answer, the last protocol messages,
//                      console lines and lines of the browser's error output, and (Firefox) its processes' states
// Every call to the browser is bounded: one that gets no answer within QV_WEB_CALL_SECONDS (120 s unless set)
// fails with a NoAnswer error naming the call, instead of leaving the test waiting on a browser that stopped.
// Chromium (Debian's, software WebGL through SwiftShader) through playwright-core; Firefox ESR (Debian's, under
// a private Xvfb, WebGL 2 on Mesa's llvmpipe) through its WebDriver BiDi server, with the small client below.
// webgl: false turns WebGL off; sound: false gives the browser no sound output it can start; autoplay: false
// lets sound start only after a click on the page (the browsers' usual rule).
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const {spawn, spawnSync} = require('child_process');

async function launch(kind, {webgl = true, sound = true, autoplay = true} = {}) {
  if (kind === 'chromium') return launchChromium(webgl, sound, autoplay);
  if (kind === 'firefox') return launchFirefox(webgl, sound, autoplay);
  throw new Error(`unknown browser ${kind}`);
}

const CALL_MS = 1000 * (Number(process.env.QV_WEB_CALL_SECONDS) || 120);

class NoAnswer extends Error {
  constructor(call, ms) {
    super(`${call}: no answer from the browser in ${ms / 1000} s`);
    this.name = 'NoAnswer';
    this.call = call;
  }
}

// What happened lately between the test and its browser, kept for a report when the browser stops answering:
// the last protocol messages, console lines and lines of the browser's error output, each with its time since
// the launch, and the calls still waiting for an answer.
function journal() {
  const started = Date.now();
  const kept = {protocol: [], console: [], stderr: []};
  const sizes = {protocol: 30, console: 20, stderr: 30};
  const waiting = new Map();  // token -> {call, since}
  let nextToken = 1;
  const stamp = (t) => `${((t - started) / 1000).toFixed(2).padStart(8)} s`;
  return {
    add(kind, text) {
      const list = kept[kind];
      list.push(`${stamp(Date.now())}  ${text.length > 300 ? text.slice(0, 300) + '...' : text}`);
      if (list.length > sizes[kind]) list.shift();
    },
    // The call's answer, or a NoAnswer after ms; while it waits, the call is listed in the report.
    bounded(call, promise, ms = CALL_MS, onNoAnswer = () => {}) {
      const token = nextToken++;
      waiting.set(token, {call, since: Date.now()});
      let timer;
      const limit = new Promise((_, fail) => {
        timer = setTimeout(() => {
          onNoAnswer();
          fail(new NoAnswer(call, ms));
        }, ms);
      });
      return Promise.race([promise, limit]).finally(() => {
        clearTimeout(timer);
        waiting.delete(token);
      });
    },
    report(extra = '') {
      const now = Date.now();
      const all = [...waiting.values()].map((w) => `${w.call}, sent at ${stamp(w.since)}`);
      const calls = all.length > 6 ? all.slice(0, 3).concat([`... ${all.length - 5} more ...`], all.slice(-2)) : all;
      const part = (title, lines) =>
        `  ${title}:\n${lines.length ? lines.map((l) => `    ${l}`).join('\n') : '    (none)'}\n`;
      return `where the browser stood at ${stamp(now)} after its launch:\n` +
             part('calls waiting for an answer', calls) +
             part('last protocol messages (-> sent, <- received)', kept.protocol) +
             part('last console lines of the page', kept.console) +
             part("last lines of the browser's error output", kept.stderr) + extra;
    },
  };
}

// Lines of text from a stream, each to fn (the last one unfinished kept until more comes).
function eachLine(stream, fn) {
  let rest = '';
  stream.on('data', (d) => {
    const lines = (rest + d).split('\n');
    rest = lines.pop();
    for (const l of lines) if (l.trim()) fn(l);
  });
}

// The states of processes and of all processes below them, from /proc (Linux): for each its name, state, CPU
// time, the threads that were running or waiting on the disk and where its main thread waits. A browser busy
// at something shows running threads; a page whose script waits on another process for an answer shows its
// content process's main thread waiting on a lock ("futex"), and an idle one waiting in "poll".
function processStates(rootPids) {
  const read = (f) => { try { return fs.readFileSync(f, 'utf8'); } catch (e) { return null; } };
  const stat = (f) => {
    const s = read(f);
    if (!s) return null;
    const close = s.lastIndexOf(')');
    const fields = s.slice(close + 2).split(' ');
    return {name: s.slice(s.indexOf('(') + 1, close), state: fields[0], ppid: Number(fields[1]),
            cpu: (Number(fields[11]) + Number(fields[12])) / 100};
  };
  const all = new Map();
  for (const d of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(d)) continue;
    const s = stat(`/proc/${d}/stat`);
    if (s) all.set(Number(d), s);
  }
  const lines = [];
  const visit = (pid, depth) => {
    const p = all.get(pid);
    if (!p) return;
    const busy = [];
    let threads = 0;
    for (const t of (() => { try { return fs.readdirSync(`/proc/${pid}/task`); } catch (e) { return []; } })()) {
      const ts = stat(`/proc/${pid}/task/${t}/stat`);
      if (!ts) continue;
      threads++;
      if (ts.state === 'R' || ts.state === 'D') busy.push(`${ts.name} ${ts.state}`);
    }
    const wchan = read(`/proc/${pid}/wchan`);
    lines.push(`    ${' '.repeat(depth * 2)}${pid} ${p.name}: state ${p.state}, CPU ${p.cpu.toFixed(2)} s, ` +
               `${threads} threads${busy.length ? ` (running or in I/O: ${busy.join(', ')})` : ''}` +
               `${wchan && wchan !== '0' ? `, main thread in ${wchan}` : ''}`);
    for (const [child, c] of all) if (c.ppid === pid) visit(child, depth + 1);
  };
  for (const pid of rootPids) {
    if (all.has(pid)) visit(pid, 0);
    else lines.push(`    ${pid}: ended`);
  }
  return `  processes:\n${lines.join('\n')}\n`;
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
  const log = journal();
  const browser = await chromium.launch({executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args});
  // Playwright's own calls and their answers stand for the protocol messages here.
  const call = (what, fn) => {
    log.add('protocol', `-> ${what}`);
    return log.bounded(what, fn()).then((r) => {
      log.add('protocol', `<- ${what}`);
      return r;
    }, (e) => {
      log.add('protocol', `<- ${what}: ${String(e.message || e).split('\n')[0]}`);
      throw e;
    });
  };
  return {
    name: 'chromium',
    async newPage({width = 800, height = 600} = {}) {
      const page = await call('newPage', () => browser.newPage({viewport: {width, height}}));
      // Playwright's own evaluation counts as a click on the page (sound could start without one): plain
      // DevTools evaluation instead.
      const devtools = await call('newCDPSession', () => page.context().newCDPSession(page));
      const types = {error: 'error', warning: 'warning', info: 'info', log: 'log', debug: 'debug'};
      const listeners = [];
      page.on('console', (m) => {
        const level = types[m.type()] || 'log';
        log.add('console', `${level}: ${m.text()}`);
        for (const cb of listeners) cb(level, m.text());
      });
      return {
        onConsole(cb) { listeners.push(cb); },
        goto: (url) => call(`goto ${url}`, () => page.goto(url)),
        async evaluate(fn, arg) {
          const r = await call(`Runtime.evaluate ${String(fn).replace(/\s+/g, ' ').slice(0, 120)}`,
                               () => devtools.send('Runtime.evaluate', {expression: callExpression(fn, arg), awaitPromise: true,
                                                                       returnByValue: true, userGesture: false}));
          if (r.exceptionDetails) throw new Error(`in the page: ${r.exceptionDetails.exception ? r.exceptionDetails.exception.description : r.exceptionDetails.text}`);
          return r.result.value === undefined ? undefined : JSON.parse(r.result.value);
        },
        resize: (w, h) => call(`setViewportSize ${w}x${h}`, () => page.setViewportSize({width: w, height: h})),
        press: (key) => call(`keyboard.press ${key}`, () => page.keyboard.press(key)),
        click: (x, y) => call(`mouse.click ${x},${y}`, () => page.mouse.click(x, y)),
        screenshot: (file) => call(`screenshot ${file}`, () => page.screenshot({path: file})),
        browserMessages: async () => [],  // Chromium's own warnings come as console messages
      };
    },
    report: () => log.report(),
    // Playwright ends the browser's process itself when the test's process exits.
    close: () => log.bounded('close', browser.close(), 30000),
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
// page's audio clock runs on a machine without sound output. Resolves to {server, clientConfig, pid,
// stop(signal), probe()}.
async function startPulse(log) {
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
  let startLog = '';
  server.stderr.on('data', (d) => { startLog += d; });
  eachLine(server.stderr, (l) => log.add('stderr', `pulseaudio: ${l}`));
  server.on('exit', (code, signal) => log.add('stderr', `(pulseaudio ended with ${signal || code})`));
  const stop = (signal = 'SIGTERM') => {
    server.kill(signal);
    fs.rmSync(dir, {recursive: true, force: true});
  };
  for (let i = 0; i < 100; ++i) {
    if (server.exitCode !== null) break;
    if (fs.existsSync(socket)) {
      return {server: `unix:${socket}`, clientConfig: path.join(dir, 'client.conf'), pid: server.pid, stop,
              // Whether the server answers a client now (for the report of a browser that stopped answering).
              probe() {
                const started = Date.now();
                const r = spawnSync('pactl', ['info'], {env: {...env, PULSE_SERVER: `unix:${socket}`}, timeout: 5000,
                                                        encoding: 'utf8'});
                const took = ((Date.now() - started) / 1000).toFixed(1);
                if (r.error && r.error.code === 'ETIMEDOUT') return `the sound server gave no answer to pactl in ${took} s`;
                if (r.status === 0) return `the sound server answered pactl in ${took} s`;
                return `pactl: ${r.error ? r.error.message : (r.stderr || '').trim() || `ended with ${r.status}`}`;
              }};
    }
    await new Promise((r) => setTimeout(r, 50));
  }
  stop();
  throw new Error(`the private PulseAudio server did not start: ${startLog.trim()}`);
}

// A minimal WebDriver BiDi client: commands with ids, each answered within ms (CALL_MS unless given) or failed
// with a NoAnswer; events to listeners; every message into the journal.
function bidiClient(url, log) {
  const WebSocketClass = globalThis.WebSocket || require('playwright-core/lib/utilsBundle').ws;
  return log.bounded('BiDi connection', new Promise((resolve, reject) => {
    const socket = new WebSocketClass(url);
    const pending = new Map();
    const listeners = [];
    let nextId = 1;
    socket.onerror = (e) => reject(new Error(`BiDi connection: ${e.message || e.type}`));
    socket.onclose = () => {
      log.add('protocol', '-- the connection closed');
      for (const {fail} of pending.values()) fail(new Error('the browser closed its BiDi connection'));
      pending.clear();
    };
    socket.onmessage = (e) => {
      const text = String(e.data);
      const m = JSON.parse(text);
      // The page's console lines are kept on their own.
      if (m.method !== 'log.entryAdded') log.add('protocol', `<- ${text}`);
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
      send(method, params = {}, ms = CALL_MS) {
        const id = nextId++;
        const text = JSON.stringify({id, method, params});
        const answer = new Promise((done, fail) => {
          pending.set(id, {done, fail, method});
          log.add('protocol', `-> ${text}`);
          socket.send(text);
        });
        return log.bounded(`${method} (command ${id})`, answer, ms, () => pending.delete(id));
      },
      on(l) { listeners.push(l); },
      close() { socket.close(); },
    });
  }), 30000);
}

const bidiKeys = {Escape: '\uE00C', Enter: '\uE007', Space: ' '};

async function launchFirefox(webgl, sound, autoplay) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-firefox-'));
  fs.writeFileSync(path.join(profile, 'user.js'), firefoxPrefs(webgl, sound, autoplay));
  const log = journal();
  let xvfb = null, pulse = null, firefox = null, bidi = null;
  // Whatever happens to the test, nothing started here outlives its process.
  const killAll = () => {
    for (const p of [firefox, xvfb && xvfb.process]) if (p && p.exitCode === null && p.signalCode === null) p.kill('SIGKILL');
    if (pulse) pulse.stop('SIGKILL');
  };
  process.on('exit', killAll);
  // Everything started here ends with the browser, or at once when the start fails.
  const cleanUp = async () => {
    if (bidi) {
      await bidi.send('browser.close', {}, 10000).catch(() => {});
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
    pulse = null;
    process.removeListener('exit', killAll);
    fs.rmSync(profile, {recursive: true, force: true});
  };
  try {
    xvfb = await log.bounded('starting Xvfb', startXvfb(), 30000);
    xvfb.process.on('exit', (code, signal) => log.add('stderr', `(Xvfb ended with ${signal || code})`));
    const env = {...process.env, DISPLAY: xvfb.display, MOZ_CRASHREPORTER_DISABLE: '1', LIBGL_ALWAYS_SOFTWARE: '1'};
    delete env.WAYLAND_DISPLAY;
    pulse = sound ? await startPulse(log) : null;
    env.PULSE_SERVER = pulse ? pulse.server : `unix:${path.join(profile, 'no-sound-server')}`;
    if (pulse) env.PULSE_CLIENTCONFIG = pulse.clientConfig;
    firefox = spawn(process.env.FIREFOX || '/usr/bin/firefox-esr',
                    ['--no-remote', '--new-instance', '--profile', profile, '--remote-debugging-port=0',
                     '--remote-allow-system-access', 'about:blank'],
                    {env, stdio: ['ignore', 'ignore', 'pipe']});
    let start = '';
    eachLine(firefox.stderr, (l) => log.add('stderr', l));
    const endpoint = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`Firefox did not start its BiDi server: ${start.slice(-500)}`)),
                               60000);
      const listen = (d) => {
        start += d;
        const m = /WebDriver BiDi listening on (ws:\/\/\S+)/.exec(start);
        if (m) {
          clearTimeout(timer);
          firefox.stderr.off('data', listen);
          resolve(m[1]);
        }
      };
      firefox.stderr.on('data', listen);
      firefox.on('exit', (code) => reject(new Error(`Firefox ended with ${code}: ${start.slice(-500)}`)));
    });
    firefox.on('exit', (code, signal) => log.add('stderr', `(Firefox ended with ${signal || code})`));
    bidi = await bidiClient(endpoint.replace(/\/?$/, '/session'), log);
    await bidi.send('session.new', {capabilities: {alwaysMatch: {acceptInsecureCerts: true}}});
    await bidi.send('session.subscribe', {events: ['log.entryAdded']});
  } catch (e) {
    await cleanUp();
    throw e;
  }
  const consoles = new Map();  // browsing context -> console callback
  bidi.on((method, p) => {
    if (method !== 'log.entryAdded') return;
    const level = p.level === 'warn' ? 'warning' : p.level;
    log.add('console', `${level}: ${p.text || ''}`);
    const cb = consoles.get(p.source && p.source.context);
    if (cb) cb(level, p.text || '');
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
    // The sound server too: a page's script waits in Firefox for the audio output's answers.
    report: () => log.report(processStates([firefox, xvfb && xvfb.process, pulse && {pid: pulse.pid}]
                                            .filter(Boolean).map((p) => p.pid)) +
                             (pulse ? `  ${pulse.probe()}\n` : '')),
    close: cleanUp,
  };
}

module.exports = {launch, NoAnswer};
