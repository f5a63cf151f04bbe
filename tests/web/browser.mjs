// What the page's test and benchmark share: the site served on 127.0.0.1,
// Debian's Chromium driven by puppeteer-core, a watch put into the page
// before its own scripts, and screenshots shrunk as the desktop tests
// shrink them.
import { createServer } from "node:http";
import { mkdtempSync, readFileSync, rmSync, statSync } from "node:fs";
import { tmpdir } from "node:os";
import { extname, join, normalize } from "node:path";
import { inflateSync } from "node:zlib";
import puppeteer from "puppeteer-core";

export const sourceDir = new URL("../..", import.meta.url).pathname;

const types = {
  ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
  ".jpg": "image/jpeg", ".mp3": "audio/mpeg",
};

// Serves the files of `folder` on 127.0.0.1, as any static server would,
// except the paths in `hidden`, which it says are not there.
export async function serveSite(folder, hidden = []) {
  const server = createServer((request, response) => {
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
    response.writeHead(200, { "Content-Type": types[extname(file)] || "application/octet-stream",
                              "Content-Length": size });
    response.end(readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return { url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

// Starts headless Chromium (WebGL on SwiftShader, nothing fetched from
// elsewhere) with a page of the given size; `messages` collects what the
// page writes to its console.
export async function launchChromium(width, height) {
  const profile = mkdtempSync(join(tmpdir(), "movra-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
           "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--disable-background-timer-throttling",
           "--disable-renderer-backgrounding", "--disable-backgrounding-occluded-windows"],
  });
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  const messages = [];
  page.on("console", (message) => messages.push({ type: message.type(), text: message.text() }));
  page.on("pageerror", (error) => messages.push({ type: "error", text: String(error) }));
  await page.evaluateOnNewDocument(watchPage);
  // The DevTools protocol's plain evaluation, which is no user gesture:
  // puppeteer's page.evaluate would count as one and hide the autoplay rule.
  const cdp = await page.createCDPSession();
  const evaluate = async (expression) => {
    const { result, exceptionDetails } = await cdp.send("Runtime.evaluate",
        { expression, returnByValue: true, awaitPromise: true });
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.text}`);
    return result.value;
  };
  const close = async () => {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return { browser, page, evaluate, messages, close };
}

// Put into the page before its scripts, as window.movraWatch: every audio
// buffer the page's script processors fill and when the first with sound
// was filled, the WebGL errors left at the
// end of each animation frame, how many frames the canvas showed and when
// the first ten came (the demo shows each through one drawArrays), and when
// the first click came.
function watchPage() {
  const watch = window.movraWatch = {
    contexts: 0, rate: 0, left: [], right: [], firstSoundAt: null, glErrors: [], shown: [],
    shownCount: 0, clickAt: null,
  };
  const Base = window.AudioContext;
  window.AudioContext = class extends Base {
    constructor(...args) {
      super(...args);
      watch.contexts++;
      watch.rate = this.sampleRate;
      watch.context = this;
    }
  };
  const onProcess = Object.getOwnPropertyDescriptor(ScriptProcessorNode.prototype, "onaudioprocess");
  const create = BaseAudioContext.prototype.createScriptProcessor;
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
}

// Decodes a PNG of 8-bit RGB or RGBA, as Chromium writes screenshots.
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
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
