// Plays the browser build in headless chromium as a child would, and checks
// what the page shows and sounds against the desktop program on the same seed.
//
//   node tests/web/test_web.mjs BUILD_WEB DESKTOP_TAMBLO OUTPUT_DIR
//
// The start button pressed, the splash waited out, a wrong block and then the
// right ones of the first puzzle clicked, a puzzle played with keys alone;
// the canvas at scale 1 beside the desktop's picture of the same puzzle;
// sound at the cues; the game again with the server gone; a damaged or
// missing table, and a browser without WebAssembly or canvas, told on the page.
import { execFileSync, spawn } from "node:child_process";
import { copyFileSync, existsSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { join, resolve } from "node:path";
import { launch, open, serve, sleep, traceLength, waitEvent } from "./harness.mjs";

const SEED = 20261211;
// The scene settles this long after a puzzle is dealt (the crane comes to rest).
const SETTLE_MS = 3000;
const REST_AFTER_WRONG_MS = 3500, REST_AFTER_PLACED_MS = 2200;

const [siteArg, desktopArg, outArg] = process.argv.slice(2);
if (!siteArg || !desktopArg || !outArg) {
  console.error("usage: node tests/web/test_web.mjs BUILD_WEB DESKTOP_TAMBLO OUTPUT_DIR");
  process.exit(64);
}
const site = resolve(siteArg), desktop = resolve(desktopArg), out = resolve(outArg);
mkdirSync(out, { recursive: true });

const failures = [];
const check = (ok, text) => {
  console.log(`${ok ? "ok  " : "FAIL"} ${text}`);
  if (!ok) failures.push(text);
};

// The canvas's logical pixels on the page, and how many screen pixels each takes.
async function canvasBox(page) {
  return page.evaluate(() => {
    const c = document.getElementById("canvas");
    const r = c.getBoundingClientRect();
    return { x: r.left, y: r.top, scale: r.width / c.width, width: c.width, height: c.height };
  });
}

async function clickLogical(page, x, y) {
  const box = await canvasBox(page);
  await page.mouse.move(box.x + (x + 0.5) * box.scale, box.y + (y + 0.5) * box.scale);
  await sleep(100);
  await page.mouse.down();
  await sleep(50);
  await page.mouse.up();
}

async function pressStart(page) {
  await page.waitForSelector("#start:not([disabled])");
  const focused = await page.evaluate(() => document.activeElement && document.activeElement.id);
  check(focused === "start", "the start control is a focused button, reachable by keyboard");
  await page.click("#start");
}

const centre = (b) => [b.x + Math.floor(b.w / 2), b.y + Math.floor(b.h / 2)];

// One puzzle: the first wrong block, then the right ones; by pointer or by keys.
async function solve(page, puzzle, keysOnly) {
  const wrong = puzzle.blocks.filter((b) => !b.right);
  const right = puzzle.blocks.filter((b) => b.right);
  if (wrong.length) {
    const since = await traceLength(page);
    if (keysOnly) {
      for (let i = 0; i <= puzzle.blocks.indexOf(wrong[0]); i++) await page.keyboard.press("ArrowRight");
      await page.keyboard.press("Enter");
    } else {
      await clickLogical(page, ...centre(wrong[0]));
    }
    await waitEvent(page, "wrong", since, { text: wrong[0].text });
    await sleep(REST_AFTER_WRONG_MS);
  }
  let last = 0;
  for (const block of right) {
    const since = await traceLength(page);
    if (keysOnly) {
      for (const letter of block.text) await page.keyboard.press(letter);
    } else {
      await clickLogical(page, ...centre(block));
    }
    const placed = await waitEvent(page, "placed", since, { text: block.text });
    last = placed.index;
    if (placed.event.shown !== puzzle.word) await sleep(REST_AFTER_PLACED_MS);
  }
  return waitEvent(page, "floor", last);
}

// The desktop program on the same seed at scale 1, its first puzzle after
// the same wait, under a private X server.
async function desktopShot(path) {
  if (!existsSync(desktop)) throw new Error(`no program at ${desktop}`);
  const xvfb = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                     { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  const display = await new Promise((res) => xvfb.stdio[3].once("data", (d) => res(d.toString().trim())));
  const trace = join(out, "desktop-trace.jsonl");
  rmSync(trace, { force: true });
  const env = { ...process.env, DISPLAY: `:${display}`, SDL_AUDIODRIVER: "dummy",
                TAMBLO_SEED: String(SEED), TAMBLO_TRACE: trace };
  delete env.SDL_VIDEODRIVER;
  const game = spawn(desktop, ["--scale", "1"], { env, stdio: "ignore" });
  try {
    for (let i = 0; i < 600 && !(existsSync(trace) && readFileSync(trace, "utf8").includes("\"puzzle\"")); i++) {
      await sleep(100);
    }
    await sleep(SETTLE_MS);
    const win = execFileSync("xdotool", ["search", "--onlyvisible", "--name", "^Tamblo$"],
                             { env }).toString().split("\n")[0];
    execFileSync("import", ["-window", win, path], { env });
    return readFileSync(trace, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(l))
      .find((e) => e.event === "puzzle");
  } finally {
    game.kill();
    xvfb.kill();
  }
}

// Pixels that differ between two pictures, and the box around them.
function compare(a, b, diff) {
  let count;
  try {
    count = execFileSync("compare", ["-metric", "AE", a, b, diff], { stdio: ["ignore", "pipe", "pipe"] });
  } catch (e) {
    count = e.stderr;  // compare exits 1 when the pictures differ
  }
  count = parseInt(count.toString(), 10);
  let box = "";
  if (count > 0) {
    box = execFileSync("convert", [a, b, "-compose", "difference", "-composite", "-threshold", "0",
                                   "-format", "%@", "info:"]).toString();
  }
  return { count, box };
}

async function main() {
  const server = await serve(site);
  const browser = await launch();
  try {
    // The game, played.
    const page = await open(browser, `${server.origin}/?seed=${SEED}&trace=1`);
    await pressStart(page);
    const { index: first, event: puzzle } = await waitEvent(page, "puzzle", 0);
    await sleep(SETTLE_MS);
    const box = await canvasBox(page);
    check(box.width === 632 && box.height === 456 && box.scale === 1,
          `the canvas is 632 x 456 at scale 1 (${box.width} x ${box.height} at ${box.scale})`);
    const canvas = await page.$("#canvas");
    await canvas.screenshot({ path: join(out, "web-puzzle.png") });
    await page.screenshot({ path: join(out, "web-page.png") });

    const desktopPuzzle = await desktopShot(join(out, "desktop-puzzle.png")).catch((e) => {
      console.log(`the desktop program did not show its puzzle: ${e.message}`);
      return null;
    });
    check(desktopPuzzle && desktopPuzzle.word === puzzle.word,
          `the desktop deals the same first puzzle on seed ${SEED} (${desktopPuzzle && desktopPuzzle.word} / ${puzzle.word})`);
    const { count, box: where } = !desktopPuzzle ? { count: -1, box: "" } : compare(join(out, "web-puzzle.png"), join(out, "desktop-puzzle.png"),
                                          join(out, "puzzle-diff.png"));
    check(count === 0, `the canvas equals the desktop's picture pixel for pixel (${count} differ${where ? " within " + where : ""})`);

    let floor = await solve(page, puzzle, false);
    check(true, `first puzzle "${puzzle.word}" played with the pointer, a wrong block first`);
    await page.screenshot({ path: join(out, "web-floor1.png") });
    const next = await waitEvent(page, "puzzle", floor.index);
    await sleep(SETTLE_MS);
    floor = await solve(page, next.event, true);
    check(true, `second puzzle "${next.event.word}" played with keys alone`);
    await sleep(SETTLE_MS);
    await page.screenshot({ path: join(out, "web-floor2.png") });

    // Sound: the tap's level near each cue, against the loudest heard.
    const { levels, trace } = await page.evaluate(() => ({ levels: window.__levels, trace: window.__trace }));
    const loud = Math.max(0, ...levels.map((l) => l[1]));
    const cues = trace.filter((e) => e.event === "cue");
    const heard = cues.filter((c) => levels.some(([t, v]) => t >= c._at - 100 && t <= c._at + 500 && v > loud / 30));
    check(loud > 0.01 && cues.length > 0 && heard.length >= 0.9 * cues.length,
          `sound at ${heard.length} of ${cues.length} cues (loudest level ${loud.toFixed(3)}, audio ${levels.length ? levels[levels.length - 1][2] : "never opened"})`);
    check(page.problems.length === 0, `no console errors or outside requests${page.problems.length ? ": " + page.problems.join("; ") : ""}`);

    // Offline: once the service worker holds every file, the server goes.
    await page.evaluate(async () => {
      await navigator.serviceWorker.ready;
      for (let i = 0; i < 600; i++) {
        const names = await caches.keys();
        if (names.length) {
          const cache = await caches.open(names[0]);
          const response = await fetch("sw.js");
          const text = await response.text();
          const wanted = (text.match(/"[^"]+"(?=,?\n)/g) || []).length;
          if ((await cache.keys()).length >= wanted) return;
        }
        await new Promise((r) => setTimeout(r, 100));
      }
    });
    await server.stop();
    await page.setOfflineMode(true);
    await page.reload({ waitUntil: "load" });
    await pressStart(page);
    const offline = await waitEvent(page, "puzzle", 0).catch(() => null);
    check(!!offline, "with the server gone, a reload starts the game from the offline cache");
    await page.screenshot({ path: join(out, "web-offline.png") });
    await page.close();

    // A damaged table and a missing one: the engine's words on the page.
    for (const [name, override] of [
      ["truncated Blend.DAT", (p) => (p === "Blend.DAT" ? readFileSync(join(site, p)).subarray(0, 1000) : undefined)],
      ["missing Conson.IDX", (p) => (p === "Conson.IDX" ? null : undefined)],
    ]) {
      const bad = await serve(site, override);
      const p = await open(browser, `${bad.origin}/?seed=${SEED}`);
      await pressStart(p);
      const text = await p.waitForFunction(() => {
        const m = document.getElementById("message");
        return !m.hidden && m.textContent;
      }, { timeout: 30000 }).then((h) => h.jsonValue()).catch(() => "");
      const shot = join(out, `web-${name.replace(/\W+/g, "-")}.png`);
      await p.screenshot({ path: shot });
      check(/Blend|Conson/.test(text), `${name}: the page says ${JSON.stringify(text.slice(0, 160))}`);
      await p.close();
      await bad.stop();
    }

    // A browser that lacks WebAssembly, and one whose canvas draws nothing.
    const plain = await serve(site);
    for (const [name, before, word] of [
      ["no WebAssembly", () => { delete window.WebAssembly; }, "WebAssembly"],
      ["no canvas", () => { HTMLCanvasElement.prototype.getContext = () => null; }, "canvas"],
    ]) {
      const p = await open(browser, `${plain.origin}/`, { before });
      const text = await p.$eval("#message", (m) => (m.hidden ? "" : m.textContent));
      check(text.includes(word), `${name}: the page says ${JSON.stringify(text.slice(0, 100))}`);
      await p.close();
    }
    await plain.stop();
  } finally {
    await browser.close();
    await server.stop();
  }
  if (failures.length) {
    console.error(`test-web: ${failures.length} failed (pictures in ${out})`);
    process.exit(1);
  }
  console.log(`test-web: all passed (pictures in ${out})`);
}

main().catch((e) => {
  console.error("test-web:", e);
  process.exit(1);
});
