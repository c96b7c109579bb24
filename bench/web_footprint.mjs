// What the browser build costs, beside the desktop program in the same run:
// bytes sent before the first puzzle shows (as sent, and gzip-compressed as a
// web server would send them), bytes in all, time from the start button to
// the first puzzle, and the share of each 100 ms the game's frames take.
//
//   node bench/web_footprint.mjs BUILD_WEB DESKTOP_BUILD
import { execFileSync, spawn } from "node:child_process";
import { existsSync, mkdtempSync, readdirSync, readFileSync, statSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { gzipSync } from "node:zlib";

const [siteArg, desktopArg] = process.argv.slice(2);
const site = resolve(siteArg || "build-web"), desktopBuild = resolve(desktopArg || "build");
if (!existsSync(join(site, "tamblo.wasm"))) {
  console.log(`web_footprint: skipped, no browser build in ${site} (make web makes one)`);
  process.exit(0);
}
const { clickLogical, launch, open, serve, sleep, waitEvent } = await import("../tests/web/harness.mjs");

const SEED = 20261211;
const mb = (n) => (n / 1e6).toFixed(2) + " MB";

// Every frame callback timed, so the game's share of each 100 ms shows.
function timeFrames() {
  window.__frames = [];
  const raf = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => raf((t) => {
    const start = performance.now();
    try { callback(t); } finally { window.__frames.push([start, performance.now() - start]); }
  });
}

async function web() {
  const server = await serve(site);
  const browser = await launch();
  try {
    const page = await open(browser, `${server.origin}/?seed=${SEED}&trace=1`, { before: timeFrames });
    await page.waitForSelector("#start:not([disabled])");
    const pressedAt = await page.evaluate(() => performance.now());
    const serverPressed = performance.now();
    await page.click("#start");
    const { event } = await waitEvent(page, "puzzle", 0);
    const serverPuzzle = performance.now();
    const startedAt = await page.evaluate(() => window.tamblo.startedAt);
    const before = server.requests.filter((r) => r.at <= serverPuzzle);
    const gz = (list) => list.reduce((n, r) => {
      const path = join(site, r.path === "" ? "index.html" : r.path);
      return n + (existsSync(path) && statSync(path).isFile() ? gzipSync(readFileSync(path)).length : r.bytes);
    }, 0);
    // A child's choice plays the crane: the frames then are the busiest. The
    // first run decodes each sound effect; a later one finds them decoded.
    const run = async (puzzle) => {
      await sleep(3000);
      const since = await page.evaluate(() => window.__frames.length);
      const block = puzzle.blocks.find((b) => b.right);
      await clickLogical(page, block.x + Math.floor(block.w / 2), block.y + Math.floor(block.h / 2));
      await sleep(8000);
      const frames = await page.evaluate((since) => window.__frames.slice(since), since);
      const windows = new Map();
      for (const [at, spent] of frames) {
        const k = Math.floor(at / 100);
        windows.set(k, (windows.get(k) || 0) + spent);
      }
      const shares = [...windows.values()].map((s) => s / 100).sort((a, b) => a - b);
      return { mean: shares.reduce((a, b) => a + b, 0) / Math.max(1, shares.length),
               worst: shares[shares.length - 1] || 0, frames: frames.length };
    };
    const first = await run(event);
    const { event: next } = await waitEvent(page, "puzzle", (await waitEvent(page, "floor", 0)).index);
    const later = await run(next);
    await sleep(2000);
    return {
      beforeBytes: before.reduce((n, r) => n + r.bytes, 0),
      beforeGz: gz(before),
      totalBytes: server.bytesSent,
      pressToPuzzle: event._at - pressedAt,
      programToPuzzle: event._at - (startedAt ?? pressedAt),
      serverPressToPuzzle: serverPuzzle - serverPressed,
      first,
      later,
    };
  } finally {
    await browser.close();
    await server.stop();
  }
}

// The desktop program: its folder's size, start to first puzzle under a
// private X server, and its own tick benchmark.
async function desktop() {
  const exe = join(desktopBuild, "tamblo");
  if (!existsSync(exe)) return null;
  const folderBytes = ["Blend", "SVowel", "LVowel", "Conson", "SndFx"]
    .flatMap((t) => ["DAT", "IDX", "BLB"].map((e) => join(desktopBuild, `${t}.${e}`)))
    .concat([exe, join(desktopBuild, "libcrde2000.so"), join(desktopBuild, "libisp2000.so")],
            readdirSync(join(desktopBuild, "assets")).map((f) => join(desktopBuild, "assets", f)))
    .filter(existsSync).reduce((n, f) => n + statSync(f).size, 0);
  const xvfb = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                     { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  const display = await new Promise((res) => xvfb.stdio[3].once("data", (d) => res(d.toString().trim())));
  const trace = join(mkdtempSync(join(tmpdir(), "tamblo-bench-")), "trace.jsonl");
  const env = { ...process.env, DISPLAY: `:${display}`, SDL_AUDIODRIVER: "dummy",
                TAMBLO_SEED: String(SEED), TAMBLO_TRACE: trace };
  let toPuzzle = null;
  const started = performance.now();
  const game = spawn(exe, [], { env, stdio: "ignore" });
  try {
    for (let i = 0; i < 3000; i++) {
      if (existsSync(trace) && readFileSync(trace, "utf8").includes("\"puzzle\"")) {
        toPuzzle = performance.now() - started;
        break;
      }
      await sleep(10);
    }
  } finally {
    game.kill();
    xvfb.kill();
  }
  let tick = null;
  const tickBench = join(desktopBuild, "bench", "bench_game_tick");
  if (existsSync(tickBench)) {
    const text = execFileSync(tickBench, ["--benchmark_filter=BM_PlainTick"], { stdio: ["ignore", "pipe", "ignore"] }).toString();
    const m = text.match(/ratio tick_vs_budget ([0-9.e+-]+)/);
    if (m) tick = parseFloat(m[1]);
  }
  return { folderBytes, toPuzzle, tick };
}

const w = await web();
const d = await desktop();
const pct = (x) => (x * 100).toFixed(3) + " %";
console.log(`tamblo in headless chromium (seed ${SEED}) beside the desktop program`);
console.log("                                        browser          desktop");
console.log(`  bytes before the first puzzle     ${mb(w.beforeBytes).padStart(12)}     ${d ? mb(d.folderBytes).padStart(12) + " read from disk" : "-"}`);
console.log(`    gzip-compressed                 ${mb(w.beforeGz).padStart(12)}`);
console.log(`  bytes in all                      ${mb(w.totalBytes).padStart(12)}     ${d ? mb(d.folderBytes).padStart(12) : "-"}`);
console.log(`  start to first puzzle             ${(w.pressToPuzzle / 1000).toFixed(2).padStart(10)} s     ${d && d.toPuzzle ? (d.toPuzzle / 1000).toFixed(2).padStart(10) + " s (launch to puzzle)" : "-"}`);
console.log(`    of which the program's own      ${(w.programToPuzzle / 1000).toFixed(2).padStart(10)} s     (the splash alone is 6 s)`);
console.log(`  frames' share of 100 ms while the crane acts (8 s each):`);
console.log(`    first run, mean                 ${pct(w.first.mean).padStart(12)}     ${d && d.tick !== null ? pct(d.tick).padStart(12) + " one tick (bench_game_tick)" : "-"}`);
console.log(`    first run, busiest              ${pct(w.first.worst).padStart(12)}     (${w.first.frames} frames; each effect decoded once)`);
console.log(`    next puzzle's run, mean         ${pct(w.later.mean).padStart(12)}`);
console.log(`    next puzzle's run, busiest      ${pct(w.later.worst).padStart(12)}     (${w.later.frames} frames)`);
