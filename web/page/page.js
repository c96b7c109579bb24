"use strict";
// The page around the program: it puts the files the program reads into the
// program's folder, starts the program when the start button is pressed
// (browsers let sound start only after such a press), scales the canvas by
// whole numbers, and says in words what went wrong when something did.
//
// Most of the content is the pictures and sounds of the four kinds of
// building, and the first building needs only its own: a kind's table comes
// when the program asks for it, and the others follow while the child plays.

(() => {
  // The program's folder, where it finds its tables, assets/ and fonts/.
  const programDir = "/";
  const $ = (id) => document.getElementById(id);
  const stage = $("stage"), canvas = $("canvas");
  const startScreen = $("start-screen"), startButton = $("start");
  const againScreen = $("again-screen"), againButton = $("again");
  const message = $("message"), messageText = $("message-text"), messageOk = $("message-ok");
  const loading = $("loading");

  // Words for the reader. `ok`: the game goes on once they are read; without
  // it the game has ended and the page offers to load it again.
  function say(text, { ok = false, again = true } = {}) {
    messageText.textContent = text;
    messageOk.hidden = !ok;
    message.hidden = false;
    if (ok) {
      messageOk.focus();
    } else {
      startScreen.hidden = true;
      loading.hidden = true;
      if (again) {
        canvas.hidden = true;
        againScreen.hidden = false;
        againButton.focus();
      }
    }
  }
  messageOk.addEventListener("click", () => {
    message.hidden = true;
    canvas.focus();
  });

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

  // For the tests and benchmarks: when the press started the program.
  window.tamblo = { startedAt: null };

  const problem = missingFeature();
  if (problem) {
    say(problem, { again: false });
    return;
  }

  // The program's last words on its error stream, for a fault it could not say itself.
  const errors = [];
  const lastWords = (otherwise) => (errors.length ? errors.slice(-3).join("\n") : otherwise);

  // The offline cache: the service worker fills it with what the first
  // puzzle needs; the page adds each later table as it fetches it.
  const cacheName = "tamblo-" + self.tambloVersion;
  const offlineReady = ("serviceWorker" in navigator && location.protocol !== "file:")
    ? navigator.serviceWorker.register("sw.js").then(() => navigator.serviceWorker.ready).catch(() => null)
    : Promise.resolve(null);

  // A file from the cache, or else from the server. The worker's first
  // download is waited for, so nothing is downloaded twice.
  async function get(path, keep) {
    await Promise.race([offlineReady, new Promise((resolve) => setTimeout(resolve, 60000))]);
    if ("caches" in window) {
      const cached = await caches.match(path, { cacheName }).catch(() => null);
      if (cached) return cached;
    }
    const response = await fetch(path);
    if (keep && response.ok && "caches" in window) {
      // Only into a cache the worker made whole: a cache without the program
      // would not start offline. Out of storage, the game just plays online.
      try {
        if (await caches.has(cacheName)) await (await caches.open(cacheName)).put(path, response.clone());
      } catch (e) { /* not cached */ }
    }
    return response;
  }

  // A file's bytes; null when the server has no such file, which is left out
  // so that the program says which of its files it misses, as on the desktop.
  async function load(file) {
    const response = await get(file.path, !!file.table);
    if (response.status === 404) return null;
    if (!response.ok) throw new Error(file.path + ": the server answered " + response.status);
    return { path: file.path, bytes: new Uint8Array(await response.arrayBuffer()) };
  }

  let runtimeReady;
  const runtime = new Promise((resolve) => { runtimeReady = resolve; });
  async function place(loaded) {
    await runtime;
    const FS = Module.FS;
    for (const file of loaded) {
      if (!file) continue;
      const path = programDir + file.path;
      FS.mkdirTree(path.slice(0, path.lastIndexOf("/")) || "/");
      FS.writeFile(path, file.bytes);
    }
  }

  // The later tables: name -> { files, fetching (a promise), here, failure }.
  const tables = new Map();
  for (const file of self.tambloProgramFiles) {
    if (!file.table) continue;
    if (!tables.has(file.table)) tables.set(file.table, { files: [], fetching: null, here: false, failure: null });
    tables.get(file.table).files.push(file);
  }
  function fetchTable(name) {
    const table = tables.get(name);
    if (!table.fetching) {
      table.fetching = Promise.all(table.files.map(load)).then(place).catch((e) => {
        table.failure = "The page could not fetch the " + name + " table (" + e.message +
          "). Check the connection; another building tries again.";
        console.warn(table.failure);
      }).then(() => { table.here = true; });
    }
    return table.fetching;
  }
  // The rest come one at a time once the first building is dealt, so its
  // picture and word are not kept waiting by files it does not need.
  let restStarted = false;
  function fetchTheRest() {
    if (restStarted) return;
    restStarted = true;
    setTimeout(async () => {
      for (const name of tables.keys()) await fetchTable(name);
    }, 500);
  }

  // The program's own messages, in a box of the page's: the game waits
  // until it is closed, as it waits for the desktop's.
  let note = "";
  window.Module = {
    canvas,
    thisProgram: programDir + "tamblo",
    print: (text) => console.log(text),
    printErr: (text) => { errors.push(text); console.warn(text); },
    onRuntimeInitialized: () => runtimeReady(),
    onAbort: (what) => say("Tamblo stopped: " + lastWords(String(what)) + "\nLoad the page again to play on."),
    // main returns once the game's frames are running; it returns a failure
    // only when the game could not start, after saying why.
    quit: (status, toThrow) => {
      if (status !== 0) {
        say(message.hidden ? lastWords("Tamblo could not start (" + status + ").") : messageText.textContent);
      }
      throw toThrow;
    },
    tamblo: {
      showMessage: (caption, text) => {
        say(caption + "\n\n" + text + (note ? "\n" + note : ""), { ok: true });
        note = "";
      },
      messageShowing: () => !message.hidden && !messageOk.hidden,
      // EXIT: another game is one press away.
      gameOver: () => {
        canvas.hidden = true;
        againScreen.hidden = false;
        againButton.focus();
      },
      tableArrived: (name) => {
        const table = tables.get(name);
        if (!table) return true;
        if (!table.here) return false;
        loading.hidden = true;
        fetchTheRest();
        if (table.failure) {
          // The program now says which files it misses; the next ask fetches again.
          note = table.failure;
          Object.assign(table, { fetching: null, here: false, failure: null });
        }
        return true;
      },
      requestTable: (name) => {
        const table = tables.get(name);
        if (!table) return;
        fetchTable(name);
        setTimeout(() => { loading.hidden = table.here || !table.fetching; }, 400);
      },
    },
  };

  // What every building needs, before the start, so the press starts the game at once.
  const early = Promise.all(self.tambloProgramFiles.filter((file) => !file.table).map(load))
    .then(place)
    .then(() => Module.FS.chdir(programDir));
  early.catch((e) => say("Tamblo could not load its files: " + e.message +
                         "\nCheck the connection and load the page again."));

  // The program's code comes through the cache too, so that the worker's
  // first download is the only one.
  const programFailed = (what) => say("Tamblo could not load its program (" + what + "). Load the page again to try again.");
  get("tamblo.wasm").then((response) => {
    if (!response.ok) throw new Error("tamblo.wasm: the server answered " + response.status);
    return response.arrayBuffer();
  }).then((code) => {
    Module.wasmBinary = new Uint8Array(code);
    const script = document.createElement("script");
    script.src = "tamblo.js";
    script.onerror = () => programFailed("tamblo.js");
    document.body.appendChild(script);
  }, (e) => programFailed(e.message));

  let started = false;
  function start() {
    if (started) return;
    started = true;
    startButton.textContent = "Loading\u2026";
    startButton.disabled = true;
    // Sound may start only within the press itself: the context made here
    // is the one the sound library finds and plays through. At the desktop's
    // mixing rate the browser converts to the device's in its own audio
    // thread, and the game's frames do not.
    const AudioContext = window.AudioContext || window.webkitAudioContext;
    if (AudioContext && !(Module.SDL2 && Module.SDL2.audioContext)) {
      try {
        let context;
        try {
          context = new AudioContext({ sampleRate: 44100 });
        } catch (e) {
          context = new AudioContext();
        }
        context.resume().catch(() => {});
        Module.SDL2 = { audioContext: context };
      } catch (e) { /* the game plays on without sound */ }
    }
    early.then(() => {
      startScreen.hidden = true;
      window.tamblo.startedAt = performance.now();
      Module.callMain([]);
    }, () => {});
  }
  startButton.addEventListener("click", start);
  againButton.addEventListener("click", () => location.reload());
  startButton.focus();

  // A tab in the background stops the game's timer (the browser stops
  // drawing frames) and its sound, and both go on when it comes back.
  // The sound library resumes its audio at any key or click, which must not
  // wake a tab in the background.
  const guarded = new WeakSet();
  document.addEventListener("visibilitychange", () => {
    const context = Module.SDL2 && Module.SDL2.audioContext;
    if (!context) return;
    if (!guarded.has(context)) {
      guarded.add(context);
      context.addEventListener("statechange", () => {
        if (document.hidden && context.state === "running") context.suspend();
      });
    }
    if (document.hidden) context.suspend(); else context.resume();
  });
})();
