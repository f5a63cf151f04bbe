// What the page's test and benchmark share: the site served on 127.0.0.1
// with a watch put into the page before its own scripts, the three engines
// as viewers have them (Debian's Chromium driven by puppeteer-core with its
// background throttling on; Firefox ESR through puppeteer-core's WebDriver
// BiDi and WebKitGTK's MiniBrowser through WebKitWebDriver, both on a
// display with a sound server of their own), and screenshots shrunk as the
// desktop tests shrink them.
import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from "node:fs";
import { createServer } from "node:net";
import { createServer as createHttpServer } from "node:http";
import { tmpdir } from "node:os";
import { extname, join, normalize, resolve } from "node:path";
import { inflateSync } from "node:zlib";
import puppeteer from "puppeteer-core";

export const sourceDir = new URL("../..", import.meta.url).pathname;

// The site the tests and the benchmark serve: MOVRA_WEB_SITE, or the web build's.
export const siteFolder = resolve(process.env.MOVRA_WEB_SITE || join(sourceDir, "build-web/site"));

const types = {
  ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
  ".jpg": "image/jpeg", ".mp3": "audio/mpeg",
};

// What is undone however this process ends: a failure, the end, Ctrl+C or
// SIGTERM. Each runs once, the last added first, and must not wait.
const cleanups = [];
function runCleanups() {
  while (cleanups.length) {
    try {
      cleanups.pop()();
    } catch {}
  }
}
process.on("exit", runCleanups);
for (const [signal, status] of [["SIGINT", 130], ["SIGTERM", 143]])
  process.on(signal, () => process.exit(status));

// Removes a temporary folder of ours when the process ends, or now.
function temporaryFolder(prefix) {
  const folder = mkdtempSync(join(tmpdir(), prefix));
  const remove = () => rmSync(folder, { recursive: true, force: true });
  cleanups.push(remove);
  return { folder, remove };
}

// Starts a program in a process group of its own, ended with all it started
// by its stop (which waits a little for it to go) or when the process
// ends, which it does not hold up.
function startProgram(what, command, args, env) {
  const child = spawn(command, args, { env, detached: true, stdio: ["ignore", "ignore", "pipe", "pipe"] });
  child.unref();
  child.stdio.slice(2).forEach((pipe) => pipe.unref());
  let log = "";
  child.stderr.on("data", (data) => (log = (log + data).slice(-4000)));
  child.on("error", (error) => (log += `\n${error.message}`));
  const exited = new Promise((resolve) => child.on("exit", resolve));
  const stop = () => {
    try {
      process.kill(-child.pid, "SIGTERM");
    } catch {}
    return Promise.race([exited, new Promise((resolve) => setTimeout(resolve, 5000).unref())]);
  };
  cleanups.push(stop);
  const failed = () => new Error(`${what} (${command}) could not start: ${log.trim() || "no output"}`);
  return { child, stop, failed, log: () => log };
}

// Waits until `ready()` holds or the program ends, at most `seconds`.
async function waitFor(program, ready, seconds) {
  await sleep(100); // a program that is missing says so by then
  for (const until = Date.now() + seconds * 1000; Date.now() < until;) {
    if (program.child.exitCode !== null || program.child.signalCode || !program.child.pid)
      throw program.failed();
    if (await ready()) return;
    await sleep(100);
  }
  throw program.failed();
}

// The X display for the browsers that need one: the one in DISPLAY (./test
// starts one), or an Xvfb of our own.
let display = null;
async function xDisplay() {
  if (process.env.DISPLAY) return process.env.DISPLAY;
  if (!display) {
    const xvfb = startProgram("Xvfb", "Xvfb", ["-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                              process.env);
    let number = "";
    xvfb.child.stdio[3].on("data", (data) => (number += data));
    await waitFor(xvfb, () => /\n/.test(number), 20);
    display = `:${number.trim()}`;
  }
  return display;
}

// A PulseAudio server of our own with a null sink, on a socket of its own
// in a temporary folder that also holds all its state, so that the
// machine's audio set-up is never touched; as root it runs with a warning.
// Resolves to what a browser's environment needs to play through it, and
// its stop.
async function startSoundServer() {
  const { folder } = temporaryFolder("movra-pulse-");
  const socket = join(folder, "socket");
  const env = { ...process.env, HOME: folder, XDG_RUNTIME_DIR: folder, XDG_CONFIG_HOME: folder,
                XDG_STATE_HOME: folder, PULSE_RUNTIME_PATH: folder, PULSE_STATE_PATH: folder };
  // Nor the user's session bus: none is found, and none is started through X.
  delete env.DBUS_SESSION_BUS_ADDRESS;
  delete env.DISPLAY;
  const pulse = startProgram("the sound server, PulseAudio", "pulseaudio",
      ["-n", "--daemonize=no", "--system=no", "--use-pid-file=no", "--exit-idle-time=-1",
       "--realtime=no", "--high-priority=no", "--log-target=stderr", "-L", "module-null-sink",
       "-L", `module-native-protocol-unix socket=${socket} auth-anonymous=1`], env);
  await waitFor(pulse, () => existsSync(socket), 30);
  writeFileSync(join(folder, "client.conf"), "autospawn = no\n");
  return { env: { PULSE_SERVER: `unix:${socket}`, PULSE_CLIENTCONFIG: join(folder, "client.conf"),
                  PULSE_COOKIE: join(folder, "cookie") }, stop: pulse.stop };
}

// Serves the files of `folder` on 127.0.0.1, as any static server would,
// except the paths in `hidden`, which it says are not there, and the page,
// into which it puts the watch (watchPage) before the page's own scripts.
export async function serveSite(folder, hidden = []) {
  const server = createHttpServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, "http://x").pathname));
    const file = join(folder, path === "/" ? "index.html" : path);
    let size = -1;
    try {
      size = statSync(file).isFile() ? statSync(file).size : -1;
    } catch {}
    if (size < 0 || hidden.includes(path.replace(/^\//, "")) || !file.startsWith(folder)) {
      response.writeHead(404, { "Content-Type": "text/plain" }).end("not found");
      return;
    }
    let body = readFileSync(file);
    if (extname(file) === ".html")
      body = Buffer.from(String(body).replace("<head>", `<head><script>(${watchPage})();</script>`));
    response.writeHead(200, { "Content-Type": types[extname(file)] || "application/octet-stream",
                              "Content-Length": body.length });
    response.end(body);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return { url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

// One engine driven as the tests need it, whichever the engine:
//   name, evaluate(expression) (no user gesture), click(selector),
//   screenshot() (PNG of the page's viewport), errors() (console and page
//   errors seen so far), close(), and page (puppeteer's, Chromium and
//   Firefox only).
// Each fails naming the browser when it is missing or can't start.
export async function launchEngine(name, width, height, device = null) {
  const launch = { chromium: launchChromium, firefox: launchFirefox, webkit: launchWebKit }[name];
  return launch(width, height, device);
}

// Headless Chromium (WebGL on SwiftShader, nothing fetched from elsewhere)
// with its background throttling as viewers have it, and a page of the
// given size or emulating `device` (one of puppeteer's KnownDevices).
async function launchChromium(width, height, device) {
  const { folder, remove } = temporaryFolder("movra-chromium-");
  let browser;
  try {
    browser = await puppeteer.launch({
      executablePath: "/usr/bin/chromium",
      headless: true,
      userDataDir: folder,
      // puppeteer turns the background throttles off; a viewer's Chromium has them.
      ignoreDefaultArgs: ["--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                          "--disable-backgrounding-occluded-windows"],
      args: ["--no-sandbox", "--disable-gpu", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
             "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync"],
    });
  } catch (error) {
    throw new Error(`Chromium (/usr/bin/chromium) could not start: ${error.message}`);
  }
  const page = await browser.newPage();
  if (device) await page.emulate(device);
  else await page.setViewport({ width, height });
  // The DevTools protocol's plain evaluation, which is no user gesture:
  // puppeteer's page.evaluate would count as one and hide the autoplay rule.
  const cdp = await page.createCDPSession();
  const evaluate = async (expression) => {
    const { result, exceptionDetails } = await cdp.send("Runtime.evaluate",
        { expression, returnByValue: true, awaitPromise: true });
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.text}`);
    return result.value;
  };
  return puppeteerEngine("Chromium", browser, page, evaluate, async () => {
    await browser.close();
    remove();
  });
}

// Firefox ESR through WebDriver BiDi, on the X display (headless, it has no
// WebGL here), playing through a sound server of our own.
async function launchFirefox(width, height) {
  const sound = await startSoundServer();
  const env = { ...process.env, DISPLAY: await xDisplay(), ...sound.env };
  const { folder, remove } = temporaryFolder("movra-firefox-");
  let browser;
  try {
    browser = await puppeteer.launch({
      browser: "firefox", executablePath: "/usr/bin/firefox-esr", headless: false, userDataDir: folder,
      env, defaultViewport: { width, height },
    });
  } catch (error) {
    throw new Error(`Firefox ESR (/usr/bin/firefox-esr) could not start: ${error.message}`);
  }
  const page = (await browser.pages())[0] || await browser.newPage();
  await page.setViewport({ width, height });
  // BiDi's evaluation of a string runs it as it is.
  const evaluate = (expression) => page.evaluate(expression);
  return puppeteerEngine("Firefox", browser, page, evaluate, async () => {
    await browser.close();
    await sound.stop();
    remove();
  });
}

// What Chromium and Firefox share through puppeteer.
function puppeteerEngine(name, browser, page, evaluate, close) {
  const messages = [];
  page.on("console", (message) => messages.push({ type: message.type(), text: message.text() }));
  page.on("pageerror", (error) => messages.push({ type: "error", text: String(error) }));
  // The browser's own notes on WebGL, and Chromium's on the screenshots'
  // read-backs, which are no errors.
  const errors = async () => messages.filter((m) => m.type === "error" || /WebGL: |GL_INVALID|GL ERROR/.test(m.text))
      .map((m) => m.text).concat(await evaluate("movraWatch.errors"));
  return {
    name, browser, page, evaluate, errors, close,
    click: (selector) => page.click(selector),
    screenshot: async () => Buffer.from(await page.screenshot({ type: "png" })),
  };
}

// WebKitGTK's MiniBrowser through WebKitWebDriver (W3C WebDriver over plain
// HTTP), on the X display, playing through a sound server of our own.
const miniBrowser = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";
async function launchWebKit(width, height) {
  if (!existsSync(miniBrowser)) throw new Error(`WebKitGTK's MiniBrowser (${miniBrowser}) is missing`);
  const sound = await startSoundServer();
  const env = { ...process.env, DISPLAY: await xDisplay(), ...sound.env };
  const port = await freePort();
  const driver = startProgram("WebKitGTK's driver, WebKitWebDriver", "WebKitWebDriver", [`--port=${port}`], env);
  const base = `http://127.0.0.1:${port}`;
  const call = async (method, path, body) => {
    const response = await fetch(base + path, { method, body: body && JSON.stringify(body),
                                                headers: { "Content-Type": "application/json" } });
    const { value } = await response.json();
    if (!response.ok) throw new Error(`WebKitWebDriver ${method} ${path}: ${value.error}: ${value.message}`);
    return value;
  };
  await waitFor(driver, () => fetch(`${base}/status`).then((r) => r.ok, () => false), 30);
  let session;
  try {
    session = `/session/${(await call("POST", "/session", { capabilities: { alwaysMatch: {
      "webkitgtk:browserOptions": { binary: miniBrowser, args: ["--automation"] } } } })).sessionId}`;
  } catch (error) {
    throw new Error(`WebKitGTK's MiniBrowser (${miniBrowser}) could not start: ${error.message}`);
  }
  const evaluate = (expression) => call("POST", `${session}/execute/sync`,
                                        { script: `return (${expression});`, args: [] });
  // The window is sized so that the page inside it is width x height.
  for (let i = 0; i < 3; i++) {
    const [innerWidth, innerHeight] = await evaluate("[innerWidth, innerHeight]");
    if (innerWidth === width && innerHeight === height) break;
    const rect = await call("GET", `${session}/window/rect`);
    await call("POST", `${session}/window/rect`,
               { width: rect.width + width - innerWidth, height: rect.height + height - innerHeight });
  }
  return {
    name: "WebKit", evaluate,
    goto: (url) => call("POST", `${session}/url`, { url }),
    click: async (selector) => {
      const element = await call("POST", `${session}/element`, { using: "css selector", value: selector });
      await call("POST", `${session}/element/${Object.values(element)[0]}/click`, {});
    },
    screenshot: async () => Buffer.from(await call("GET", `${session}/screenshot`), "base64"),
    errors: () => evaluate("movraWatch.errors"),
    close: async () => {
      await call("DELETE", session).catch(() => {});
      await driver.stop();
      await sound.stop();
    },
  };
}

// A free TCP port on 127.0.0.1.
function freePort() {
  return new Promise((resolve) => {
    const server = createServer().listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Opens `url` in the engine.
export async function openPage(engine, url) {
  if (engine.goto) await engine.goto(url);
  else await engine.page.goto(url);
}

// Waits until `expression` holds in the page, at most `seconds`; false if it never did.
export async function waitUntil(engine, expression, seconds) {
  for (const until = Date.now() + seconds * 1000; Date.now() < until; await sleep(200))
    if (await engine.evaluate(expression).catch(() => false)) return true;
  return false;
}

// Put into the page before its scripts, as window.movraWatch: every audio
// buffer the page's script processors fill, whether the page was hidden
// then, and when the first with sound was filled; the WebGL errors left at
// the end of each animation frame, how many frames the canvas showed and
// when the first ten came (the demo shows each through one drawArrays);
// when the first click came; and the errors the page met (console.error,
// uncaught errors and rejections).
function watchPage() {
  const watch = window.movraWatch = {
    contexts: 0, rate: 0, left: [], right: [], hidden: [], firstSoundAt: null, glErrors: [], shown: [],
    shownCount: 0, clickAt: null, errors: [],
  };
  const Base = window.AudioContext || window.webkitAudioContext;
  window.AudioContext = class extends Base {
    constructor(...args) {
      super(...args);
      watch.contexts++;
      watch.rate = this.sampleRate;
      watch.context = this;
    }
  };
  const onProcess = Object.getOwnPropertyDescriptor(ScriptProcessorNode.prototype, "onaudioprocess");
  const create = Base.prototype.createScriptProcessor;
  Base.prototype.createScriptProcessor = function (...args) {
    const node = create.apply(this, args);
    Object.defineProperty(node, "onaudioprocess", {
      get: () => onProcess.get.call(node),
      set: (handler) => onProcess.set.call(node, handler && function (event) {
        handler.call(this, event);
        const out = event.outputBuffer;
        const left = out.getChannelData(0).slice();
        watch.left.push(left);
        watch.right.push(out.getChannelData(Math.min(1, out.numberOfChannels - 1)).slice());
        watch.hidden.push(document.hidden);
        if (watch.firstSoundAt === null && left.some((sample) => sample !== 0))
          watch.firstSoundAt = performance.now();
      }),
    });
    return node;
  };
  const getContext = HTMLCanvasElement.prototype.getContext;
  HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
    const context = getContext.call(this, kind, ...rest);
    if (this.id === "canvas" && context && /webgl/.test(kind)) watch.gl = context;
    return context;
  };
  const drawArrays = WebGLRenderingContext.prototype.drawArrays;
  WebGLRenderingContext.prototype.drawArrays = function (...args) {
    if (watch.shown.length < 10) watch.shown.push(performance.now());
    watch.shownCount++;
    return drawArrays.apply(this, args);
  };
  const frame = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => frame((time) => {
    callback(time);
    for (let error; watch.gl && (error = watch.gl.getError());)
      watch.glErrors.push(`0x${error.toString(16)} at ${Math.round(time)} ms`);
  });
  document.addEventListener("click", () => {
    if (watch.clickAt === null) watch.clickAt = performance.now();
  }, true);
  const consoleError = console.error;
  console.error = (...args) => {
    watch.errors.push(args.join(" "));
    consoleError.apply(console, args);
  };
  addEventListener("error", (event) => watch.errors.push(String(event.message)));
  addEventListener("unhandledrejection", (event) => watch.errors.push(String(event.reason)));
}

// Decodes a PNG of 8-bit RGB or RGBA, as the browsers write screenshots.
export function decodePng(png) {
  let at = 8, width = 0, height = 0, channels = 0;
  const data = [];
  while (at < png.length) {
    const length = png.readUInt32BE(at), type = png.toString("ascii", at + 4, at + 8);
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      channels = { 2: 3, 6: 4 }[body[9]];
      if (body[8] !== 8 || !channels || body[12]) throw new Error("unexpected PNG format");
    } else if (type === "IDAT") data.push(body);
    at += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(data)), stride = width * channels;
  const rgba = Buffer.alloc(width * height * 4), previous = Buffer.alloc(stride), row = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? row[i - channels] : 0, b = previous[i], c = i >= channels ? previous[i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      row[i] = (line[i] + predictor) & 255;
    }
    for (let x = 0; x < width; x++)
      for (let k = 0; k < 4; k++) rgba[(y * width + x) * 4 + k] = k < channels ? row[x * channels + k] : 255;
    row.copy(previous);
  }
  return { width, height, rgba };
}

export const thumbWidth = 80, thumbHeight = 60;

// Shrinks the part of a screenshot at (left, top), width x height, to an
// 80 x 60 RGB miniature of block means, as the desktop tests' MakeThumbnail.
export function thumbnail(shot, left, top, width, height) {
  const sums = new Float64Array(thumbWidth * thumbHeight * 3), counts = new Float64Array(thumbWidth * thumbHeight);
  for (let y = 0; y < height; y++)
    for (let x = 0; x < width; x++) {
      const cell = Math.floor(y * thumbHeight / height) * thumbWidth + Math.floor(x * thumbWidth / width);
      const p = ((top + y) * shot.width + left + x) * 4;
      for (let k = 0; k < 3; k++) sums[cell * 3 + k] += shot.rgba[p + k];
      counts[cell]++;
    }
  return Uint8Array.from(sums, (sum, i) => Math.floor((sum + Math.floor(counts[Math.floor(i / 3)] / 2)) /
                                                      Math.max(1, counts[Math.floor(i / 3)])));
}

// Loads a frame recorded by the desktop's scenes test (tests/reference).
export function referenceFrame(t) {
  const ppm = readFileSync(join(sourceDir, `tests/reference/frame-${String(t).padStart(5, "0")}.ppm`));
  return new Uint8Array(ppm.subarray(ppm.length - thumbWidth * thumbHeight * 3));
}

// The mean and the largest difference of two miniatures, per channel.
export function meanDifference(a, b) {
  let total = 0;
  a.forEach((value, i) => (total += Math.abs(value - b[i])));
  return total / a.length;
}

export function largestDifference(a, b) {
  return a.reduce((largest, value, i) => Math.max(largest, Math.abs(value - b[i])), 0);
}

// Waits `ms` milliseconds.
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, Math.max(0, ms)));
