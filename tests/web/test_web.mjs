// Plays the browser build in headless chromium as a child would, and checks
// what the page shows and sounds against the desktop program on the same seed;
// then the same game in headless firefox.
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
import { canvasBox, clickLogical, launch, open, serve, sleep, traceLength, waitEvent } from "./harness.mjs";

const SEED = 20261211;
// The middle of the EXIT sign, in the window's logical pixels.
const EXIT_SIGN = { x: 576, y: 375 };
// The table of each kind of building, by the trace's kind number.
const KIND_TABLES = ["", "Blend", "SVowel", "LVowel", "Conson"];
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

// Pixels that differ between two pictures, the box around them and the
// largest difference in any channel, in levels of 255.
function compare(a, b, diff) {
  let count;
  try {
    count = execFileSync("compare", ["-metric", "AE", a, b, diff], { stdio: ["ignore", "pipe", "pipe"] });
  } catch (e) {
    count = e.stderr;  // compare exits 1 when the pictures differ
  }
  count = parseInt(count.toString(), 10);
  let box = "", levels = 0;
  if (count > 0) {
    box = execFileSync("convert", [a, b, "-compose", "difference", "-composite", "-threshold", "0",
                                   "-format", "%@", "info:"]).toString();
    levels = Math.round(parseFloat(execFileSync("convert", [a, b, "-compose", "difference", "-composite",
                                                            "-format", "%[fx:maxima*255]", "info:"]).toString()));
  }
  return { count, box, levels };
}

// A copy of picture `from` with each rectangle painted over in one colour.
function masked(from, rects, to) {
  const draws = rects.flatMap((r) => ["-draw", `rectangle ${r.x},${r.y} ${r.x + r.w - 1},${r.y + r.h - 1}`]);
  execFileSync("convert", [from, "-fill", "#ff00ff", ...draws, to]);
  return to;
}

// Sound: the tap's level near each cue, against the loudest heard.
async function heardCues(page) {
  const { levels, trace, rate } = await page.evaluate(() => ({ levels: window.__levels, trace: window.__trace,
                                                               rate: Module.SDL2.audioContext.sampleRate }));
  const loud = Math.max(0, ...levels.map((l) => l[1]));
  const cues = trace.filter((e) => e.event === "cue");
  const heard = cues.filter((c) => levels.some(([t, v]) => t >= c._at - 100 && t <= c._at + 500 && v > loud / 30));
  return {
    ok: loud > 0.01 && cues.length > 0 && heard.length >= 0.9 * cues.length,
    text: `sound at ${heard.length} of ${cues.length} cues (loudest level ${loud.toFixed(3)}, ` +
          `audio ${levels.length ? levels[levels.length - 1][2] : "never opened"} at ${rate} Hz)`,
  };
}

async function main() {
  const server = await serve(site);
  const browser = await launch();
  try {
    // The game, played.
    const page = await open(browser, `${server.origin}/?seed=${SEED}&trace=1`);
    await pressStart(page);
    const { index: first, event: puzzle } = await waitEvent(page, "puzzle", 0);
    const fetchedFirst = server.requests.map((r) => r.path);
    const firstTable = KIND_TABLES[puzzle.kind];
    const others = fetchedFirst.filter((p) => /^[A-Za-z]+\.(DAT|IDX|BLB)$/.test(p) &&
                                              KIND_TABLES.includes(p.split(".")[0]) && !p.startsWith(firstTable + "."));
    check(fetchedFirst.includes(firstTable + ".BLB") && others.length === 0,
          `the first puzzle (a ${firstTable} building) fetched its own table and no other kind's${others.length ? ": " + others.join(", ") : ""}`);
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
    // Text is rasterised by each platform's own font engine: its rectangles
    // (the shown word's and each block's, from the trace) are compared apart.
    if (desktopPuzzle) {
      const webShot = join(out, "web-puzzle.png"), deskShot = join(out, "desktop-puzzle.png");
      const text = [puzzle.shown_box, ...puzzle.blocks];
      const all = compare(webShot, deskShot, join(out, "puzzle-diff.png"));
      const rest = compare(masked(webShot, text, join(out, "web-puzzle-notext.png")),
                           masked(deskShot, text, join(out, "desktop-puzzle-notext.png")),
                           join(out, "puzzle-notext-diff.png"));
      // The artwork is rasterised from SVG by the same code, but the two
      // platforms' maths libraries may round an edge pixel apart by a level.
      check(rest.count === 0 || rest.levels <= 1,
            `the canvas equals the desktop's picture outside the text: ${rest.count} pixels differ` +
            (rest.count ? `, by at most ${rest.levels} level${rest.levels === 1 ? "" : "s"} of 255, within ${rest.box}` : ""));
      console.log(`     inside the text's ${text.length} rectangles ${all.count - rest.count} pixels differ ` +
                  `(glyph edges${all.box ? ", all within " + all.box : ""})`);
    }

    let floor = await solve(page, puzzle, false);
    check(true, `first puzzle "${puzzle.word}" played with the pointer, a wrong block first`);
    await page.screenshot({ path: join(out, "web-floor1.png") });
    const next = await waitEvent(page, "puzzle", floor.index);
    await sleep(SETTLE_MS);
    floor = await solve(page, next.event, true);
    check(true, `second puzzle "${next.event.word}" played with keys alone`);
    await sleep(SETTLE_MS);
    await page.screenshot({ path: join(out, "web-floor2.png") });

    const sound = await heardCues(page);
    check(sound.ok, sound.text);
    check(page.problems.length === 0, `no console errors or outside requests${page.problems.length ? ": " + page.problems.join("; ") : ""}`);

    // F11 is the browser's full screen, for the whole page, and back.
    await page.keyboard.press("F11");
    const full = await page.waitForFunction(() => document.fullscreenElement === document.documentElement,
                                            { timeout: 5000 }).then(() => true, () => false);
    await page.keyboard.press("F11");
    const back = await page.waitForFunction(() => document.fullscreenElement === null,
                                            { timeout: 5000 }).then(() => true, () => false);
    check(full && back, `F11 asks the browser for full screen and F11 again leaves it (${full}, ${back})`);

    // EXIT ends the game and leaves a Play again button, which loads it again.
    await sleep(500);
    await clickLogical(page, EXIT_SIGN.x, EXIT_SIGN.y);
    const over = await page.waitForSelector("#again-screen:not([hidden])", { timeout: 10000 }).then(() => true, () => false);
    const focusedAgain = await page.evaluate(() => document.activeElement && document.activeElement.id);
    await page.click("#again");
    const reloaded = await page.waitForSelector("#start:not([disabled])", { timeout: 30000 }).then(() => true, () => false);
    check(over && focusedAgain === "again" && reloaded,
          `EXIT leaves a focused Play again button (${over}, ${focusedAgain}), which loads the game again (${reloaded})`);

    // Offline: once the service worker holds every file, the server goes.
    const cached = await page.evaluate(async () => {
      await navigator.serviceWorker.ready;
      const text = await (await fetch("sw.js")).text();
      const files = JSON.parse(text.match(/const FILES = (\[[^\]]*\]);/)[1]);
      const name = "tamblo-" + text.match(/const VERSION = "([^"]+)"/)[1];
      let missing = files;
      for (let i = 0; i < 600 && missing.length; i++) {
        await new Promise((r) => setTimeout(r, 100));
        const cache = await caches.open(name);
        const held = await Promise.all(files.map((f) => cache.match(f, { ignoreSearch: true })));
        missing = files.filter((f, k) => !held[k]);
      }
      return { files: files.length, missing };
    });
    check(cached.missing.length === 0, `one visit caches all ${cached.files} files of the site` +
                                       (cached.missing.length ? `; not: ${cached.missing.join(", ")}` : ""));
    await server.stop();
    await page.setOfflineMode(true);
    await page.reload({ waitUntil: "load" });
    await pressStart(page);
    const offline = await waitEvent(page, "puzzle", 0).catch(() => null);
    check(!!offline, "with the server gone, a reload starts the game from the offline cache");
    await page.screenshot({ path: join(out, "web-offline.png") });
    await page.close();

    // A tab put in the background: no frames and no sound while it is away,
    // the game going on where it stopped when it is back.
    {
      const plain = await serve(site);
      const p = await open(browser, `${plain.origin}/?seed=${SEED}&trace=1`);
      await pressStart(p);
      const { event } = await waitEvent(p, "puzzle", 0);
      await sleep(SETTLE_MS);
      const other = await browser.newPage();
      await other.bringToFront();
      await sleep(500);
      const since = await traceLength(p);
      for (const letter of event.blocks.find((b) => b.right).text) await p.keyboard.press(letter);
      await sleep(3000);
      const away = await p.evaluate((n) => ({ state: document.visibilityState, events: window.__trace.length - n,
                                              audio: Module.SDL2.audioContext.state }), since);
      await p.bringToFront();
      const back = await waitEvent(p, "cue", since, {}, 10).then(() => true, () => false);
      const audio = await p.evaluate(() => Module.SDL2.audioContext.state);
      check(away.state === "hidden" && away.events === 0 && away.audio === "suspended" && back && audio === "running",
            `in the background the game stands still and silent (${away.events} events, audio ${away.audio}); ` +
            `in front again the crane goes on (audio ${audio})`);
      await other.close();
      await p.close();
      await plain.stop();
    }

    // Storage too small for the offline cache: the game plays online, and
    // no half cache is left to start from.
    {
      const plain = await serve(site);
      const context = await browser.createBrowserContext();
      const p = await open(browser, `${plain.origin}/?seed=${SEED}&trace=1`, {
        context,
        setup: async (page) => {
          const cdp = await page.createCDPSession();
          await cdp.send("Storage.overrideQuotaForOrigin", { origin: plain.origin, quotaSize: 1000000 });
        },
      });
      await pressStart(p);
      const played = await waitEvent(p, "puzzle", 0).then(() => true, () => false);
      await sleep(2000);
      const held = await p.evaluate(async () => {
        const names = await caches.keys();
        return names.length ? (await (await caches.open(names[0])).keys()).length : 0;
      });
      check(played && held === 0 && p.problems.length === 0,
            `with storage for 1 MB the game plays online (${held} files cached` +
            `${p.problems.length ? "; " + p.problems.join("; ") : ""})`);
      await context.close();
      await plain.stop();
    }

    // A damaged table read at the start and a missing file of a table fetched
    // later: the engine's words on the page, in a box whose OK lets the game
    // go on, as the desktop's does.
    for (const [name, table, override] of [
      ["truncated SndFx.DAT", "SndFx",
       (p) => (p === "SndFx.DAT" ? readFileSync(join(site, p)).subarray(0, 1000) : undefined)],
      [`missing ${firstTable}.BLB`, firstTable, (p) => (p === `${firstTable}.BLB` ? null : undefined)],
    ]) {
      const bad = await serve(site, override);
      const p = await open(browser, `${bad.origin}/?seed=${SEED}&trace=1`);
      await pressStart(p);
      const text = await p.waitForFunction(() => {
        const m = document.getElementById("message");
        return !m.hidden && document.getElementById("message-text").textContent;
      }, { timeout: 30000 }).then((h) => h.jsonValue()).catch(() => "");
      await p.screenshot({ path: join(out, `web-${name.replace(/\W+/g, "-")}.png`) });
      check(text.includes(`'${table}'`), `${name}: the page says ${JSON.stringify(text.slice(0, 160))}`);
      const since = await traceLength(p);
      await p.click("#message-ok").catch(() => {});
      const closed = await p.$eval("#message", (m) => m.hidden);
      if (table === "SndFx") {
        // The tables after it in the opening order stay closed, as on the
        // desktop, so no building can be dealt: the page still reloads.
        await p.reload({ waitUntil: "load" });
        const again = await p.waitForSelector("#start:not([disabled])", { timeout: 30000 }).then(() => true, () => false);
        check(closed && again, `${name}: OK closes the box, and the page loads again`);
      } else {
        // Without its table the building offers the Next sign: Enter takes it.
        await sleep(500);
        await p.keyboard.press("Enter");
        const next = await waitEvent(p, "next", since, {}, 20).then(() => true, () => false);
        check(closed && next, `${name}: OK closes the box, and the Next sign starts another building`);
      }
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
      const text = await p.$eval("#message", (m) => (m.hidden ? "" : document.getElementById("message-text").textContent));
      check(text.includes(word), `${name}: the page says ${JSON.stringify(text.slice(0, 100))}`);
      await p.close();
    }
    await plain.stop();
  } finally {
    await browser.close();
    await server.stop();
  }
  await firefox();
  if (failures.length) {
    console.error(`test-web: ${failures.length} failed (pictures in ${out})`);
    process.exit(1);
  }
  console.log(`test-web: all passed (pictures in ${out})`);
}

// The same game in Firefox: the same first puzzle on the seed, played with
// the pointer (a wrong block first), the next with keys alone, with sound.
async function firefox() {
  const server = await serve(site);
  const browser = await launch("firefox");
  try {
    const page = await open(browser, `${server.origin}/?seed=${SEED}&trace=1`);
    await pressStart(page);
    const { event: puzzle } = await waitEvent(page, "puzzle", 0);
    await sleep(SETTLE_MS);
    await page.screenshot({ path: join(out, "firefox-puzzle.png") });
    const box = await canvasBox(page);
    const floor = await solve(page, puzzle, false);
    const next = await waitEvent(page, "puzzle", floor.index);
    await sleep(SETTLE_MS);
    await solve(page, next.event, true);
    check(box.scale === 1, `Firefox: the canvas is 632 x 456 at scale 1 (${box.width} x ${box.height} at ${box.scale})`);
    check(true, `Firefox: "${puzzle.word}" played with the pointer, a wrong block first, ` +
                `then "${next.event.word}" with keys alone`);
    const sound = await heardCues(page);
    check(sound.ok, `Firefox: ${sound.text}`);
    check(page.problems.length === 0,
          `Firefox: no console errors or outside requests${page.problems.length ? ": " + page.problems.join("; ") : ""}`);
  } catch (e) {
    check(false, `Firefox: ${e.message}`);
  } finally {
    await browser.close();
    await server.stop();
  }
}

main().catch((e) => {
  console.error("test-web:", e);
  process.exit(1);
});
