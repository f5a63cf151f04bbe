// The web page in the three engines (./test web, through CTest), served
// from the site that browser.mjs names (MOVRA_WEB_SITE, or build-web/site):
//   node tests/web/page_test.mjs chromium   the whole script after the
//       click, with Chromium's background throttling on: nothing before
//       it, the start clicked behind another tab and the demo turning on
//       while hidden to 8 s, the recorded frames at their times in a 4:3
//       letterbox, the page hidden again from 12 to 34 s and the script's
//       frame when it is shown again, the last picture staying (and shown
//       again when the page is resized), full screen on a double-click and
//       on the button, the music as played against the file from its
//       start with no silent buffer from its start to its end, and no
//       console or WebGL error
//   node tests/web/page_test.mjs firefox    Firefox ESR (WebDriver BiDi) and
//   node tests/web/page_test.mjs webkit     WebKitGTK (WebKitWebDriver),
//       on a display with a sound server of their own: the start, the
//       frames at 10, 36, 45 and 65 s, the page's audio running (Firefox:
//       the music against the file) and no error
//   node tests/web/page_test.mjs phone      Chromium as a phone, upright and
//       on its side: a tap starts it with its audio, the picture fills the
//       page's width or height at 4:3, centred, drawn at no more than
//       twice its shown size; upright, a phone without the Fullscreen API
//       offers no full screen
//   node tests/web/page_test.mjs missing    a picture the server lacks:
//       the page says what the desktop says, in words
// MOVRA_WEB_SHOTS=FOLDER keeps every screenshot there. Exits non-zero on
// any failure.
import { execFileSync } from "node:child_process";
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { KnownDevices } from "puppeteer-core";
import {
  decodePng, largestDifference, launchEngine, meanDifference, openPage, referenceFrame, serveSite,
  siteFolder, sleep, sourceDir, thumbnail, waitUntil,
} from "./browser.mjs";

const mode = process.argv[2];
let failures = 0;

// Says whether a check held, and counts it when not.
function check(ok, what) {
  console.log(`${ok ? "ok" : "FAILED"}: ${what}`);
  if (!ok) failures++;
}

// A screenshot of the page, kept under MOVRA_WEB_SHOTS when set.
async function screenshot(engine, label) {
  const png = await engine.screenshot();
  if (process.env.MOVRA_WEB_SHOTS) {
    mkdirSync(process.env.MOVRA_WEB_SHOTS, { recursive: true });
    writeFileSync(join(process.env.MOVRA_WEB_SHOTS, `${mode}-${engine.name}-${label}.png`), png);
  }
  return decodePng(png);
}

// Where the 640 x 480 picture is in a page of width x height: as large as
// fits at 4:3, centred, as the demo's present places it.
function pictureRect(width, height) {
  const w = Math.min(width, Math.round(height * 4 / 3)), h = Math.min(height, Math.round(width * 3 / 4));
  return { left: (width - w) >> 1, top: (height - h) >> 1, width: w, height: h };
}

// The picture of the page as shown, shrunk, and whether everything around
// it is black (but for the pixel next to it, which a scaled picture may
// tint).
async function shoot(engine, label) {
  const shot = await screenshot(engine, label);
  const rect = pictureRect(shot.width, shot.height);
  let barsBlack = true;
  for (let y = 0; y < shot.height; y++)
    for (let x = 0; x < shot.width; x++) {
      const inside = x >= rect.left - 1 && x <= rect.left + rect.width && y >= rect.top - 1 &&
                     y <= rect.top + rect.height;
      const p = (y * shot.width + x) * 4;
      if (!inside && shot.rgba[p] + shot.rgba[p + 1] + shot.rgba[p + 2] > 0) barsBlack = false;
    }
  return { screen: thumbnail(shot, rect.left, rect.top, rect.width, rect.height), barsBlack, shot, rect };
}

// The recorded frames and what is checked at each time after the click:
// the pictures as closely as the desktop's recorded-frame test asks (the
// sprites, which move and flicker, within the desktop screenshots'
// tolerance); the cube, turning with the machine's clock, is light in the
// middle and no picture. A shot is taken again until it matches or its
// section is over, as on the desktop.
const shots = [
  { seconds: 10, until: 29, expected: 10000, mean: 25 },
  { seconds: 36, until: 40, expected: 35000, mean: 1, largest: 24 },
  { seconds: 45, until: 60, expected: 45000 },
  { seconds: 65, until: 70, expected: 65000, mean: 1, largest: 24 },
  { seconds: 93, until: 120, expected: 85000, mean: 1, largest: 24 },
];
const pictures = [1500, 29500, 35000, 65000, 75000, 85000];

// Whether a shrunk screen shows what `shot` expects, and how far it is.
function matchShot(screen, shot) {
  if (shot.expected === 45000) {
    const nearest = Math.min(...pictures.map((t) => meanDifference(screen, referenceFrame(t))));
    const middle = (30 * 80 + 40) * 3;
    return { matches: nearest > 20 && screen[middle] + screen[middle + 1] + screen[middle + 2] > 60,
             what: `the cube (nearest picture ${nearest.toFixed(1)} away)` };
  }
  const mean = meanDifference(screen, referenceFrame(shot.expected));
  const largest = largestDifference(screen, referenceFrame(shot.expected));
  return { matches: mean <= shot.mean && (!shot.largest || largest <= shot.largest),
           what: `frame ${shot.expected} (mean difference ${mean.toFixed(2)}, largest ${largest})` };
}

// Checks one shot at its time after the click.
async function expectShot(engine, clickedAt, shot) {
  await sleep(clickedAt + shot.seconds * 1000 - Date.now());
  let result, match;
  do {
    result = await shoot(engine, `${shot.seconds}s`);
    match = matchShot(result.screen, shot);
    if (!match.matches) await sleep(100);
  } while (!match.matches && Date.now() < clickedAt + shot.until * 1000);
  check(result.barsBlack, `${engine.name}: black bars beside the picture at ${shot.seconds} s`);
  check(match.matches, `${engine.name}: ${match.what} at ${shot.seconds} s`);
}

// Opens the page and checks the start prompt, and that nothing played or
// was drawn before the start; then starts it with `start` and checks that
// its audio runs. Resolves to the time of the start.
async function startPage(engine, server, prompt, start) {
  await openPage(engine, server.url);
  check(await waitUntil(engine, `!document.getElementById("start").hidden`, 120),
        `${engine.name}: the page downloads and offers to start`);
  const offered = await engine.evaluate(`document.getElementById("start").textContent`);
  check(offered === prompt, `${engine.name}: the page says "${offered}"`);
  await sleep(1500);
  check(await engine.evaluate(`movraWatch.contexts === 0 && movraWatch.shownCount === 0`),
        `${engine.name}: before the start nothing plays and nothing is drawn`);
  await start();
  const startedAt = Date.now();
  check(await waitUntil(engine, `movraWatch.context && movraWatch.context.state === "running" &&
                                 movraWatch.context.currentTime > 1`, 20),
        `${engine.name}: the page's audio runs after the start`);
  return startedAt;
}

// The music the page played, from its first sound, against the file
// decoded by ffmpeg at the page's rate: aligned within a few milliseconds,
// then correlated over everything played, which must be at least
// `seconds` long; and no buffer silent from the music's start to its end.
// The music is asked for at 1 s of the demo clock and comes in with the
// next buffer the browser takes: within `latest` ms of the click, as long
// as the browser's sound output takes to start.
async function expectMusic(engine, seconds, latest) {
  const rate = await engine.evaluate("movraWatch.rate");
  const base64 = await engine.evaluate(`(() => {
    const frames = movraWatch.left.reduce((n, b) => n + b.length, 0);
    const mono = new Int16Array(frames);
    let at = 0;
    movraWatch.left.forEach((left, i) => left.forEach((l, k) => {
      const m = (l + movraWatch.right[i][k]) / 2;
      mono[at++] = Math.max(-32768, Math.min(32767, Math.round(m * 32768)));
    }));
    let text = "";
    const bytes = new Uint8Array(mono.buffer);
    for (let i = 0; i < bytes.length; i += 32768)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
    return btoa(text);
  })()`);
  const bytes = Buffer.from(base64, "base64");
  const played = new Int16Array(bytes.buffer, bytes.byteOffset, bytes.length >> 1);
  const file = execFileSync("ffmpeg", ["-v", "error", "-i", join(sourceDir, "data/sound/dovevivaz.mp3"),
                                       "-f", "s16le", "-ac", "1", "-ar", String(rate), "-"],
                            { maxBuffer: 1 << 30 });
  const music = new Int16Array(file.buffer, file.byteOffset, file.length >> 1);
  const first = (samples) => samples.findIndex((s) => Math.abs(s) > 1e-3 * 32768);
  const start = first(played), musicStart = first(music);
  const startedAfterClick = await engine.evaluate("movraWatch.firstSoundAt - movraWatch.clickAt");
  check(startedAfterClick >= 1000 && startedAfterClick < latest,
        `${engine.name}: the music comes in at 1 s of the demo clock (${Math.round(startedAfterClick)} ms)`);
  const correlation = (lag, length) => {
    let ab = 0, aa = 0, bb = 0;
    for (let i = 0; i < length; i++) {
      const a = played[start + i], b = music[musicStart + lag + i];
      ab += a * b, aa += a * a, bb += b * b;
    }
    return ab / Math.sqrt(aa * bb);
  };
  let best = 0;
  for (let lag = -300; lag <= 300; lag++)
    if (correlation(lag, rate) > correlation(best, rate)) best = lag;
  const length = Math.min(played.length - start, music.length - musicStart - Math.max(0, best));
  const whole = correlation(best, length);
  check(length > rate * seconds && whole >= 0.98,
        `${engine.name}: the music played matches the file from its start over ${(length / rate).toFixed(1)} s: ` +
        `correlation ${whole.toFixed(4)}, ${best} samples off, at ${rate} Hz`);
  // Every buffer from the first with sound to the last with sound.
  const gaps = await engine.evaluate(`(() => {
    const w = movraWatch, sound = w.left.map((l, i) => l.some((s) => s !== 0) || w.right[i].some((s) => s !== 0));
    const first = sound.indexOf(true), last = sound.lastIndexOf(true);
    let silent = 0, hidden = 0, silentHidden = 0;
    for (let i = first; i <= last; i++) {
      hidden += w.hidden[i];
      silent += !sound[i];
      silentHidden += !sound[i] && w.hidden[i];
    }
    return { buffers: last - first + 1, silent, hidden, silentHidden };
  })()`);
  check(gaps.silent === 0, `${engine.name}: no silent buffer from the music's start to its end ` +
        `(${gaps.silent} of ${gaps.buffers}; while hidden ${gaps.silentHidden} of ${gaps.hidden})`);
}

// No error in the page, and no WebGL error left after an animation frame.
async function expectNoErrors(engine) {
  const glErrors = await engine.evaluate("movraWatch.glErrors");
  check(glErrors.length === 0, `${engine.name}: no WebGL error (${glErrors.slice(0, 5).join(", ")})`);
  const errors = await engine.errors();
  check(errors.length === 0, `${engine.name}: no console or page error (${errors.slice(0, 5).join(" | ")})`);
}

// The whole script in Chromium, from the start prompt on.
async function chromiumScript(server) {
  const width = 800, height = 480; // 4:3 letterboxed at whole scale 1
  const engine = await launchEngine("chromium", width, height);
  const { page, browser, evaluate } = engine;
  try {
    // Another tab in front: the page's timers then come once a second and
    // its animation frames stop. Resolves to what shows the page again.
    const hide = async () => {
      const other = await browser.newPage();
      await other.bringToFront();
      check(await evaluate("document.hidden"), "Chromium: the page is hidden behind another tab");
      return async () => {
        await page.bringToFront();
        await other.close();
      };
    };
    // Started behind another tab, as by a viewer who clicks and turns away
    // at once: hidden before the demo's loop has begun, to 8 s. The demo's
    // clock is read as often as the audio is pulled, so what it starts
    // comes on time (the music at 1 s, checked below).
    let show;
    const clickedAt = await startPage(engine, server, "Click to start", async () => {
      const start = await evaluate(`(() => { const r = document.getElementById("start").getBoundingClientRect();
        return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()`);
      show = await hide();
      await page.mouse.click(start.x, start.y);
    });
    await sleep(clickedAt + 2000 - Date.now());
    const [turnsAt2, seconds2] = await evaluate("[movraWatch.shownCount, performance.now() / 1000]");
    await sleep(clickedAt + 8000 - Date.now());
    const [turnsAt8, seconds8] = await evaluate("[movraWatch.shownCount, performance.now() / 1000]");
    const turnRate = (turnsAt8 - turnsAt2) / (seconds8 - seconds2);
    check(turnRate >= 10, `Chromium: hidden from the start, the demo still turns ${turnRate.toFixed(1)} times a second`);
    await show();
    await expectShot(engine, clickedAt, shots[0]);
    // Hidden again from 12 to 34 s, with the music playing.
    await sleep(clickedAt + 12000 - Date.now());
    show = await hide();
    await sleep(clickedAt + 34000 - Date.now());
    const shownBefore = await evaluate("movraWatch.shownCount");
    await show();
    await waitUntil(engine, `movraWatch.shownCount > ${shownBefore}`, 10);
    const back = await shoot(engine, "shown-again");
    check(back.barsBlack, "Chromium: black bars beside the picture when shown again");
    const match = matchShot(back.screen, shots[1]);
    check(match.matches, `Chromium: the first frame when shown again at 34 s is ${match.what}`);
    for (const shot of shots.slice(1)) await expectShot(engine, clickedAt, shot);
    // Full screen on a double-click and on the button, and back.
    const fullscreen = `document.fullscreenElement && document.fullscreenElement.id === "stage"`;
    await page.mouse.click(400, 240, { clickCount: 2 });
    await waitUntil(engine, fullscreen, 10);
    check(await evaluate(fullscreen), "Chromium: a double-click takes the picture full screen");
    await page.mouse.click(400, 240, { clickCount: 2 });
    await waitUntil(engine, `!(${fullscreen})`, 10);
    check(await evaluate(`!(${fullscreen})`), "Chromium: another double-click leaves full screen");
    await page.mouse.move(700, 400);
    await page.click("#fullscreen");
    await waitUntil(engine, fullscreen, 10);
    check(await evaluate(fullscreen), "Chromium: the button takes the picture full screen");
    await evaluate("document.exitFullscreen()");
    // The last picture stays in a larger page: twice the size, nearest.
    await page.setViewport({ width: 1280, height: 960 });
    await sleep(1000);
    const larger = await shoot(engine, "larger");
    const difference = meanDifference(larger.screen, referenceFrame(85000));
    check(larger.barsBlack && difference <= 1,
          `Chromium: the last picture shown again at twice the size (mean difference ${difference.toFixed(2)})`);
    await expectMusic(engine, 80, 3000);
    await expectNoErrors(engine);
  } finally {
    await engine.close();
  }
}

// The script to 65 s in Firefox or WebKit.
async function otherEngine(server, name) {
  const engine = await launchEngine(name, 800, 480);
  try {
    const clickedAt = await startPage(engine, server, "Click to start", () => engine.click("#start"));
    for (const shot of shots.slice(0, 4)) await expectShot(engine, clickedAt, shot);
    // Firefox's first buffer through the sound server came 1.5 to 2.5 s after the click here.
    if (name === "firefox") await expectMusic(engine, 60, 5000);
    await expectNoErrors(engine);
  } finally {
    await engine.close();
  }
}

// Chromium as a phone, upright and on its side.
async function phone(server) {
  for (const [device, noFullscreen] of [["Pixel 5", true], ["Pixel 5 landscape", false]]) {
    const engine = await launchEngine("chromium", 0, 0, KnownDevices[device]);
    engine.name = `Chromium as ${device}`;
    try {
      // Every iPhone browser lacks the Fullscreen API.
      if (noFullscreen)
        await engine.page.evaluateOnNewDocument(() => Object.defineProperty(Document.prototype,
            "fullscreenEnabled", { get: () => false }));
      const tappedAt = await startPage(engine, server, "Tap to start", () => engine.page.tap("#start"));
      await sleep(tappedAt + 3000 - Date.now());
      // The opening's picture in the 4:3 place that fills the width or the height.
      const { screen, shot, rect, barsBlack } = await shoot(engine, "3s");
      const match = matchShot(screen, shots[0]);
      check(barsBlack && match.matches, `${engine.name}: ${match.what} in ${rect.width} x ${rect.height} ` +
            `of the ${shot.width} x ${shot.height} screen, centred, black around it`);
      const canvas = await engine.evaluate(`(() => { const c = document.getElementById("canvas"), r = c.getBoundingClientRect();
        return { width: c.width, height: c.height, shownWidth: r.width, shownHeight: r.height, ratio: devicePixelRatio }; })()`);
      const most = Math.min(canvas.ratio, 2);
      check(canvas.width <= canvas.shownWidth * most && canvas.height <= canvas.shownHeight * most &&
            canvas.width * 3 <= canvas.height * 4 + 4 && canvas.height * 4 <= canvas.width * 3 + 4,
            `${engine.name}: the canvas draws ${canvas.width} x ${canvas.height} pixels for a picture shown at ` +
            `${canvas.shownWidth.toFixed(1)} x ${canvas.shownHeight.toFixed(1)} at ${canvas.ratio} device pixels a pixel`);
      if (noFullscreen)
        check(await engine.evaluate(`getComputedStyle(document.getElementById("fullscreen")).display === "none"`),
              `${engine.name}: no full screen is offered without the Fullscreen API`);
      await expectNoErrors(engine);
    } finally {
      await engine.close();
    }
  }
}

// A picture the site lacks: the page says so, as the desktop does.
async function missingPicture(server) {
  const engine = await launchEngine("chromium", 800, 480);
  try {
    await openPage(engine, server.url);
    await engine.page.waitForSelector("#start:not([hidden])", { timeout: 120000 });
    await engine.page.click("#start");
    await engine.page.waitForSelector("#error:not([hidden])", { timeout: 60000 });
    const text = await engine.evaluate(`document.getElementById("error").textContent`);
    check(text === "Error: Unable to load JPG File!", `the page says "${text}"`);
    check(await engine.evaluate(`!document.getElementById("panel").hidden`), "the message is shown over the canvas");
  } finally {
    await engine.close();
  }
}

const runs = { chromium: chromiumScript, firefox: (s) => otherEngine(s, "firefox"),
               webkit: (s) => otherEngine(s, "webkit"), phone, missing: missingPicture };
if (!runs[mode]) {
  console.error(`usage: node page_test.mjs ${Object.keys(runs).join("|")}`);
  process.exit(2);
}
const server = await serveSite(siteFolder, mode === "missing" ? ["data/pic/lyn.jpg"] : []);
try {
  await runs[mode](server);
} catch (error) {
  check(false, String(error.stack || error));
} finally {
  server.close();
}
console.log(failures ? `${failures} check(s) failed` : "all checks passed");
process.exit(failures ? 1 : 0);
