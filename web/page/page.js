"use strict";
// The page around the program: it fetches the files the program reads into
// the program's folder, starts the program when the start button is pressed
// (browsers let sound start only after such a press), scales the canvas by
// whole numbers, and says in words what went wrong when something did.

(() => {
  // The program's folder, where it finds its tables, assets/ and fonts/.
  const programDir = "/";
  const stage = document.getElementById("stage");
  const canvas = document.getElementById("canvas");
  const startScreen = document.getElementById("start-screen");
  const startButton = document.getElementById("start");
  const againScreen = document.getElementById("again-screen");
  const againButton = document.getElementById("again");
  const message = document.getElementById("message");

  function say(text) {
    message.textContent = text;
    message.hidden = false;
  }

  // What this browser lacks for the game, or null.
  function missingFeature() {
    if (typeof WebAssembly !== "object" || typeof WebAssembly.instantiate !== "function") {
      return "This browser cannot run WebAssembly, which Tamblo needs. " +
        "A recent Chrome, Edge, Firefox or Safari can.";
    }
    const probe = (kind) => {
      try { return !!document.createElement("canvas").getContext(kind); } catch (e) { return false; }
    };
    if (!probe("webgl") && !probe("2d")) {
      return "This browser cannot draw into a canvas, which Tamblo needs. " +
        "Check that graphics are not switched off in its settings.";
    }
    return null;
  }

  // The largest whole number of screen pixels per game pixel that fits.
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const scale = Math.max(1, Math.floor(Math.min(stage.clientWidth * ratio / canvas.width,
                                                  stage.clientHeight * ratio / canvas.height)));
    canvas.style.width = (canvas.width * scale / ratio) + "px";
    canvas.style.height = (canvas.height * scale / ratio) + "px";
  }
  window.addEventListener("resize", fit);
  // The program sets the canvas to the size of the window it shows.
  new MutationObserver(fit).observe(canvas, { attributes: true, attributeFilter: ["width", "height"] });
  fit();

  // F11 asks the browser for the whole screen, for the page, so the game
  // stays centred on its colour; the program never sees the key.
  window.addEventListener("keydown", (event) => {
    if (event.key !== "F11") return;
    event.preventDefault();
    event.stopImmediatePropagation();
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else if (document.documentElement.requestFullscreen) {
      document.documentElement.requestFullscreen().catch(() => {});
    }
  }, true);

  const problem = missingFeature();
  if (problem) {
    startScreen.hidden = true;
    say(problem);
    return;
  }

  // The program's own words for a fault, shown on the page.
  const errors = [];
  window.alert = (text) => say(String(text));

  let runtimeReady, filesReady;
  const runtime = new Promise((resolve) => { runtimeReady = resolve; });

  window.Module = {
    canvas,
    thisProgram: programDir + "tamblo",
    print: (text) => console.log(text),
    printErr: (text) => { errors.push(text); console.warn(text); },
    onRuntimeInitialized: () => runtimeReady(),
    onAbort: (what) => {
      startScreen.hidden = true;
      say("Tamblo stopped: " + (errors.length ? errors.slice(-3).join("\n") : String(what)) +
          "\nReload the page to try again.");
    },
    // main returns once the game's frames are running; it returns a failure
    // only when the game could not start, after saying why.
    quit: (status, toThrow) => {
      if (status !== 0) {
        if (message.hidden) {
          say((errors.length ? errors.slice(-3).join("\n") : "Tamblo could not start (" + status + ").") +
              "\nReload the page to try again.");
        }
        canvas.hidden = true;
        againScreen.hidden = false;
      }
      throw toThrow;
    },
    // EXIT: another game is one press away.
    tamblo: {
      gameOver: () => {
        canvas.hidden = true;
        againScreen.hidden = false;
        againButton.focus();
      },
    },
  };

  // The service worker downloads every file once for the offline cache; the
  // page then reads its files from there rather than download them again.
  // Without a worker (or once it gives up) they come from the server.
  const offlineReady = ("serviceWorker" in navigator && location.protocol !== "file:")
    ? navigator.serviceWorker.register("sw.js").then(() => navigator.serviceWorker.ready).catch(() => null)
    : Promise.resolve(null);
  async function get(path) {
    await Promise.race([offlineReady, new Promise((resolve) => setTimeout(resolve, 60000))]);
    if ("caches" in window) {
      const cached = await caches.match(path).catch(() => null);
      if (cached) return cached;
    }
    return fetch(path);
  }

  // Every file before the start, so the press starts the game at once. A
  // file the server does not have is left out: the program then says which
  // table it misses, as it does on the desktop.
  const files = Promise.all(self.tambloProgramFiles.map(async (file) => {
    const response = await get(file.path);
    if (response.status === 404) return null;
    if (!response.ok) throw new Error(file.path + ": the server answered " + response.status);
    return { path: file.path, bytes: new Uint8Array(await response.arrayBuffer()) };
  })).then(async (loaded) => {
    await runtime;
    const FS = Module.FS;
    FS.mkdirTree(programDir);
    for (const file of loaded) {
      if (!file) continue;
      const path = programDir + file.path;
      FS.mkdirTree(path.slice(0, path.lastIndexOf("/")));
      FS.writeFile(path, file.bytes);
    }
    FS.chdir(programDir);
  });
  files.catch((e) => say("Tamblo could not load its files: " + e.message +
                         "\nCheck the connection and reload the page."));

  const script = document.createElement("script");
  script.src = "tamblo.js";
  script.onerror = () => say("Tamblo could not load its program (tamblo.js). Reload the page to try again.");
  document.body.appendChild(script);

  let started = false;
  function start() {
    if (started) return;
    started = true;
    startButton.textContent = "Loading\u2026";
    startButton.disabled = true;
    files.then(() => {
      startScreen.hidden = true;
      window.tamblo.startedAt = performance.now();
      Module.callMain([]);
    }, () => { startScreen.hidden = true; });
  }
  startButton.addEventListener("click", start);
  againButton.addEventListener("click", () => location.reload());
  startButton.focus();

  // A tab in the background stops the game's timer (the browser stops
  // drawing frames) and its sound, and both go on when it comes back.
  document.addEventListener("visibilitychange", () => {
    const context = Module.SDL2 && Module.SDL2.audioContext;
    if (!context) return;
    if (document.hidden) context.suspend(); else context.resume();
  });

  // For the tests and benchmarks: when the press started the program.
  window.tamblo = { startedAt: null };
})();
