// What the browser tests and the browser benchmark share: a static server on
// 127.0.0.1 for a build-web folder, Debian's chromium headless, and the
// game's trace read off the console.
import { createServer } from "node:http";
import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync, statSync } from "node:fs";
import { tmpdir } from "node:os";
import { extname, join, normalize, sep } from "node:path";
import puppeteer from "puppeteer-core";

const TYPES = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".mjs": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm",
  ".json": "application/json",
  ".webmanifest": "application/manifest+json",
  ".png": "image/png",
  ".svg": "image/svg+xml",
};

// Serves `root`; `override(path)` may answer a path with other bytes (a
// damaged table) or null (a missing one). Counts the bytes it sends.
export async function serve(root, override = () => undefined) {
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, "http://x").pathname).replace(/^\/+/, "") || "index.html";
    const file = normalize(join(root, path));
    if (!file.startsWith(normalize(root) + sep) && file !== normalize(root)) {
      response.writeHead(403).end();
      return;
    }
    let body = override(path);
    if (body === undefined) {
      try {
        if (statSync(file).isFile()) body = readFileSync(file);
      } catch (e) {
        body = null;
      }
    }
    if (!body) {
      response.writeHead(404).end();
      return;
    }
    server.bytesSent += body.length;
    server.requests.push({ path, bytes: body.length, at: performance.now() });
    response.writeHead(200, {
      "Content-Type": TYPES[extname(path)] || "application/octet-stream",
      "Content-Length": body.length,
      "Cache-Control": "no-cache",
    });
    response.end(body);
  });
  server.bytesSent = 0;
  server.requests = [];
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  server.origin = `http://127.0.0.1:${server.address().port}`;
  // Closed at once: a browser's idle connections would hold a plain close open.
  server.stop = () => new Promise((resolve) => {
    server.close(resolve);
    server.closeAllConnections();
  });
  return server;
}

// Debian's chromium, or with kind "firefox" Debian's firefox-esr (driven
// over WebDriver BiDi, which offers less: no offline switch, no quotas).
// Headless firefox plays sound only through a sound server: a private one
// whose only output is a null sink, on a socket in `dir`.
async function soundServer(dir) {
  const socket = join(dir, "pulse.sock");
  const server = spawn("pulseaudio", [
    "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit",
    "-L", "module-null-sink sink_name=tamblo",
    "-L", `module-native-protocol-unix auth-anonymous=1 socket=${socket}`,
  ], { stdio: "ignore", env: { ...process.env, PULSE_RUNTIME_PATH: dir, HOME: dir } });
  for (let i = 0; i < 100 && !existsSync(socket); i++) await sleep(50);
  return { address: `unix:${socket}`, stop: () => server.kill() };
}

export async function launch(kind = "chromium") {
  const profile = mkdtempSync(join(tmpdir(), `tamblo-${kind}-`));
  if (kind === "firefox") {
    const sound = await soundServer(profile);
    const browser = await puppeteer.launch({
      browser: "firefox",
      executablePath: process.env.FIREFOX || "/usr/bin/firefox-esr",
      headless: true,
      userDataDir: profile,
      env: { ...process.env, PULSE_SERVER: sound.address },
      // Nothing fetched from outside the local server.
      extraPrefsFirefox: {
        "app.update.enabled": false,
        "browser.safebrowsing.malware.enabled": false,
        "browser.safebrowsing.phishing.enabled": false,
        "network.captive-portal-service.enabled": false,
        "network.connectivity-service.enabled": false,
      },
    });
    const close = browser.close.bind(browser);
    browser.close = async () => {
      await close();
      sound.stop();
      rmSync(profile, { recursive: true, force: true });
    };
    return browser;
  }
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    userDataDir: profile,
    args: [
      "--no-sandbox", "--use-gl=swiftshader", "--enable-unsafe-swiftshader",
      // This machine's network is closed: nothing but the local server.
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--disable-quic", "--no-first-run", "--disable-default-apps",
    ],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Before the page's own scripts: the trace lines get the time they were
// written, and every audio node meant for the speakers goes through an
// analyser whose level is sampled every 20 ms, so the test hears the page.
function instrument() {
  window.__trace = [];
  const log = console.log.bind(console);
  console.log = (...args) => {
    if (args.length === 1 && typeof args[0] === "string" && args[0].startsWith("{")) {
      try {
        const event = JSON.parse(args[0]);
        event._at = performance.now();
        window.__trace.push(event);
      } catch (e) { /* not a trace line */ }
    }
    log(...args);
  };
  window.__levels = [];
  const taps = new Map();
  const connect = AudioNode.prototype.connect;
  AudioNode.prototype.connect = function (target, ...rest) {
    if (target instanceof AudioDestinationNode) {
      let tap = taps.get(target.context);
      if (!tap) {
        tap = target.context.createAnalyser();
        tap.fftSize = 2048;
        connect.call(tap, target);
        taps.set(target.context, tap);
        const samples = new Float32Array(tap.fftSize);
        setInterval(() => {
          tap.getFloatTimeDomainData(samples);
          let sum = 0;
          for (const s of samples) sum += s * s;
          window.__levels.push([performance.now(), Math.sqrt(sum / samples.length), target.context.state]);
        }, 20);
      }
      return connect.call(this, tap, ...rest);
    }
    return connect.call(this, target, ...rest);
  };
}

// A page on `url` with the trace and the audio tap in place. Records console
// errors, page errors and any request outside `origin`.
// `context`: a browser context of its own (its own storage); `setup(page)`
// runs before the page loads.
export async function open(browser, url, { viewport = { width: 800, height: 600 }, before, context, setup } = {}) {
  const page = await (context || browser).newPage();
  await page.setViewport({ ...viewport, deviceScaleFactor: 1 });
  page.problems = [];
  const origin = new URL(url).origin;
  page.on("console", (m) => {
    if (m.type() === "error") page.problems.push("console error: " + m.text());
  });
  page.on("pageerror", (e) => page.problems.push("page error: " + e.message));
  page.on("request", (r) => {
    const u = r.url();
    if (!u.startsWith(origin + "/") && !u.startsWith("data:") && !u.startsWith("blob:")) {
      page.problems.push("request outside the site: " + u);
    }
  });
  await page.evaluateOnNewDocument(instrument);
  if (before) await page.evaluateOnNewDocument(before);
  if (setup) await setup(page);
  await page.goto(url, { waitUntil: "load" });
  return page;
}

// The first trace event named `name` at index >= since whose fields match.
export async function waitEvent(page, name, since = 0, fields = {}, seconds = 60) {
  const handle = await page.waitForFunction((name, since, fields) => {
    const t = window.__trace;
    for (let i = since; i < t.length; i++) {
      if (t[i].event === name && Object.entries(fields).every(([k, v]) => t[i][k] === v)) return i + 1;
    }
    return false;
  }, { timeout: seconds * 1000, polling: 20 }, name, since, fields);
  const index = (await handle.jsonValue()) - 1;
  const event = await page.evaluate((i) => window.__trace[i], index);
  return { index, event };
}

// The canvas's logical pixels on the page, and how many screen pixels each takes.
export async function canvasBox(page) {
  return page.evaluate(() => {
    const c = document.getElementById("canvas");
    const r = c.getBoundingClientRect();
    return { x: r.left, y: r.top, scale: r.width / c.width, width: c.width, height: c.height };
  });
}

export async function clickLogical(page, x, y) {
  const box = await canvasBox(page);
  await page.mouse.move(box.x + (x + 0.5) * box.scale, box.y + (y + 0.5) * box.scale);
  await sleep(100);
  await page.mouse.down();
  await sleep(50);
  await page.mouse.up();
}

export const traceLength = (page) => page.evaluate(() => window.__trace.length);
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
