// Web page benchmark: the page in each engine (headless Chromium, Firefox
// ESR and WebKitGTK on the display) against the native build in the same
// run. Run from the repository root with a display (the native figures
// come from build/bench/scenes_bench) after tools/build, tools/build web
// and ./test web (which installs puppeteer-core):
//     node bench/web_bench.mjs [--table] [ENGINE...]   (chromium firefox webkit)
// Figures:
// - frames per second each engine shows in the opening (background and
//   sprites) and in the cube section, against the native build's ticks per
//   second in the same sections (its loop is not held to the display's
//   rate; the browsers' are);
// - what a viewer downloads, raw and gzipped, against the data files alone;
// - the time from the click to the first frame in each engine, against the
//   1 s at which the script shows it, and to the end of start-up (the
//   warm-up's copy).
import { execFileSync } from "node:child_process";
import { readdirSync, readFileSync, statSync } from "node:fs";
import { join } from "node:path";
import { gzipSync } from "node:zlib";
import { launchEngine, openPage, serveSite, siteFolder as site, sleep, sourceDir, waitUntil }
  from "../tests/web/browser.mjs";

const table = process.argv.includes("--table");
const named = process.argv.slice(2).filter((a) => !a.startsWith("--"));
const engines = named.length ? named : ["chromium", "firefox", "webkit"];

// Prints one figure: a table row (figure, demo, floor, ratio, spread) or a line.
function row(figure, demo, floor, ratio) {
  if (table) console.log([figure, demo, floor, ratio, "-"].join("\t"));
  else console.log(`${figure}: ${demo} against ${floor}: ratio ${ratio}`);
}

// Every file of the site under `folder`, by its path in the site.
function siteFiles(folder, prefix = "") {
  return readdirSync(folder).flatMap((name) => {
    const path = join(folder, name);
    return statSync(path).isDirectory() ? siteFiles(path, `${prefix}${name}/`) : [`${prefix}${name}`];
  });
}

// Raw and gzipped bytes of the site's files that `pick` takes.
function sizes(pick) {
  let raw = 0, gzipped = 0;
  for (const name of siteFiles(site).filter(pick)) {
    const bytes = readFileSync(join(site, name));
    raw += bytes.length;
    gzipped += gzipSync(bytes, { level: 9 }).length;
  }
  return { raw, gzipped };
}

const kilobytes = (bytes) => `${(bytes / 1024).toFixed(0)} KiB`;
const isData = (name) => name.startsWith("data/");
const all = sizes(() => true), data = sizes(isData);
for (const [part, pick] of [["script", (n) => n === "movra.js"], ["wasm", (n) => n === "movra.wasm"],
                            ["page", (n) => n === "index.html"]]) {
  const s = sizes(pick);
  row(`web download, ${part}, raw / gzipped`, `${kilobytes(s.raw)} / ${kilobytes(s.gzipped)}`, "-", "-");
}
row("web download, everything raw", kilobytes(all.raw), `${kilobytes(data.raw)} data files`,
    (all.raw / data.raw).toFixed(2));
row("web download, everything gzipped", kilobytes(all.gzipped), `${kilobytes(data.gzipped)} data files`,
    (all.gzipped / data.gzipped).toFixed(2));

// The native build's ticks per second in the two sections.
const native = execFileSync(join(sourceDir, "build/bench/scenes_bench"), ["--table", "0.5", "2"],
                            { cwd: sourceDir, encoding: "utf8" });
const nativeRate = (section) => Number(native.split("\n").find((line) =>
    line.startsWith(`ticks/s, ${section}\t`)).split("\t")[1].replace("/s", ""));

const server = await serveSite(site);
try {
  for (const name of engines) {
    const engine = await launchEngine(name, 800, 480);
    try {
      await openPage(engine, server.url);
      if (!await waitUntil(engine, `!document.getElementById("start").hidden`, 120))
        throw new Error(`${engine.name}: the page offered no start`);
      await engine.click("#start");
      const clickedAt = Date.now();
      // Frames shown over five seconds from `from` s after the click.
      const rate = async (from) => {
        await sleep(clickedAt + from * 1000 - Date.now());
        const before = await engine.evaluate("movraWatch.shownCount"), started = Date.now();
        await sleep(5000);
        return (await engine.evaluate("movraWatch.shownCount") - before) / ((Date.now() - started) / 1000);
      };
      for (const [section, from] of [["background and sprites", 4], ["cube", 42]]) {
        const web = await rate(from), floor = nativeRate(section);
        row(`web frames/s in ${engine.name}, ${section}`, `${web.toFixed(0)}/s`, `${floor}/s native ticks`,
            (web / floor).toFixed(3));
      }
      const [ready, first] = await engine.evaluate(
          "movraWatch.shown.slice(0, 2).map((t) => t - movraWatch.clickAt)");
      row(`web click to first frame in ${engine.name}`, `${first.toFixed(0)} ms`,
          "1000 ms (the script's first frame)", (first / 1000).toFixed(3));
      row(`web click to start-up done (warm-up shown) in ${engine.name}`, `${ready.toFixed(0)} ms`, "-", "-");
    } finally {
      await engine.close();
    }
  }
} finally {
  server.close();
}
