// The page benchmarks' measuring script, added (as the first script in <head>)
// to every page they compare, ours and the floors alike, so that all of them
// are measured the same way. It does two things.
//
// 1. The first frame showing what the page is for. With ?expect=<text> that is
//    an editor whose text holds <text>, editable and focused (so it takes
//    keys); without it, the loaded page. The time the main thread finished
//    rendering that frame is kept in benchProbe.ready (ms since the epoch, to
//    compare with the launcher's clock), and the program is told through the
//    page's message channel, which it refuses and logs: the launcher learns it
//    from the log, without touching the page while it starts.
//
// 2. The main thread's work while recording: every callback the page
//    schedules (timers, frames, idle callbacks, event handlers, observers, the
//    worker's messages) is timed up to the end of the microtasks it queued,
//    each key from its keydown to the end of the task that handled it, and
//    each frame rendered after any of these from its first animation-frame
//    callback to the end of the rendering. The union of these intervals is the
//    time the main thread was busy on the page's behalf. Recording costs a few
//    clock reads per callback, and nothing while it is off.
(() => {
  const clock = () => performance.now();
  const original = {
    MutationObserver: window.MutationObserver,
    setTimeout: window.setTimeout.bind(window),
    setInterval: window.setInterval.bind(window),
    requestAnimationFrame: window.requestAnimationFrame.bind(window),
    requestIdleCallback: window.requestIdleCallback ? window.requestIdleCallback.bind(window) : null,
    addEventListener: EventTarget.prototype.addEventListener,
    removeEventListener: EventTarget.prototype.removeEventListener,
  };

  const probe = {
    ready: null,
    recording: false,
    intervals: [], // [start, end, label]
    keys: [], // keydown times
    workerTrips: [], // [sent, answered] of each request to a worker
    lastActivity: 0,
    open: 0, // intervals begun and not yet ended
  };
  window.benchProbe = probe;

  function record(start, label) {
    probe.open++;
    return () => {
      const end = clock();
      probe.open--;
      probe.intervals.push([start, end, label]);
      probe.lastActivity = end;
    };
  }

  // Ends an interval once the current task has run: a message posted now is
  // handled right after it (and after a rendering that was due in between,
  // which is main-thread work as well).
  function atEndOfTask(finish) {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      finish();
      channel.port1.close();
    };
    channel.port2.postMessage(0);
  }

  // Measures the next frame, once, whatever asks for it first.
  let framePending = false;
  function measureNextFrame() {
    if (framePending || !probe.recording) return;
    framePending = true;
    original.requestAnimationFrame(() => {
      framePending = false;
      if (probe.recording) atEndOfTask(record(clock(), "frame"));
    });
  }

  // The callback, timed up to the end of the microtasks it queued (an await
  // after a timer resumes there).
  function timed(callback, label, inFrame = false) {
    if (typeof callback !== "function") return callback;
    return function timedCallback(...args) {
      if (!probe.recording) return callback.apply(this, args);
      // Asked first, so that the frame this work leads to is measured from its start.
      if (!inFrame) measureNextFrame();
      const finish = record(clock(), label);
      try {
        return callback.apply(this, args);
      } finally {
        queueMicrotask(finish);
      }
    };
  }

  // --- keys: registered before any of the page's own listeners ---------------
  original.addEventListener.call(window, "keydown", () => {
    if (!probe.recording) return;
    const start = clock();
    probe.keys.push(start);
    measureNextFrame();
    atEndOfTask(record(start, "key"));
  }, true);

  // --- scheduling ------------------------------------------------------------
  // Timers are told apart by their delay: a page's debounced jobs each have their own.
  window.setTimeout = (callback, delay, ...rest) =>
    original.setTimeout(timed(callback, `timeout ${Number(delay) || 0}`), delay, ...rest);
  window.setInterval = (callback, delay, ...rest) =>
    original.setInterval(timed(callback, `interval ${Number(delay) || 0}`), delay, ...rest);
  window.requestAnimationFrame = (callback) => {
    measureNextFrame();
    return original.requestAnimationFrame(timed(callback, "animation frame", true));
  };
  if (original.requestIdleCallback) {
    window.requestIdleCallback = (callback, options) => original.requestIdleCallback(timed(callback, "idle"), options);
  }

  // --- event handlers --------------------------------------------------------
  const wrappedListeners = new WeakMap();
  function wrappedListener(listener, type) {
    if (typeof listener !== "function") return listener;
    let byType = wrappedListeners.get(listener);
    if (!byType) wrappedListeners.set(listener, (byType = new Map()));
    if (!byType.has(type)) byType.set(type, timed(listener, `event ${type}`));
    return byType.get(type);
  }
  EventTarget.prototype.addEventListener = function addEventListener(type, listener, options) {
    return original.addEventListener.call(this, type, wrappedListener(listener, type), options);
  };
  EventTarget.prototype.removeEventListener = function removeEventListener(type, listener, options) {
    const byType = typeof listener === "function" ? wrappedListeners.get(listener) : null;
    return original.removeEventListener.call(this, type, (byType && byType.get(type)) || listener, options);
  };
  // The worker's answers arrive through its on-message property. Its own work
  // runs on another thread, outside the union; each request's round trip
  // (sent to answered) is kept apart, as the share of the machine it took.
  // A worker may be sent messages it does not answer (the keeper of unsaved
  // texts gets the edits, then the keep): an answer ends the trip of the last
  // message sent before it.
  const sentAt = new WeakMap();
  const postToWorker = Worker.prototype.postMessage;
  Worker.prototype.postMessage = function postMessage(...args) {
    if (probe.recording) {
      if (!sentAt.has(this)) sentAt.set(this, []);
      sentAt.get(this).push(clock());
    }
    return postToWorker.apply(this, args);
  };
  const workerMessage = Object.getOwnPropertyDescriptor(Worker.prototype, "onmessage");
  if (workerMessage && workerMessage.set) {
    Object.defineProperty(Worker.prototype, "onmessage", {
      ...workerMessage,
      set(handler) {
        const inner = timed(handler, "worker message");
        workerMessage.set.call(this, typeof handler !== "function" ? handler : function answered(event) {
          const sent = sentAt.get(this);
          if (probe.recording && sent && sent.length) {
            probe.workerTrips.push([sent.pop(), clock()]);
            sent.length = 0;
          }
          return inner.call(this, event);
        });
      },
    });
  }

  // --- observers -------------------------------------------------------------
  for (const name of ["MutationObserver", "ResizeObserver", "IntersectionObserver"]) {
    const Observer = window[name];
    if (!Observer) continue;
    window[name] = class extends Observer {
      constructor(callback, options) {
        super(timed(callback, name, name !== "MutationObserver"), options);
      }
    };
  }

  // --- recording, read by the benchmark through WebDriver ----------------------
  probe.start = () => {
    probe.intervals = [];
    probe.keys = [];
    probe.workerTrips = [];
    probe.lastActivity = clock();
    probe.recording = true;
  };
  // Calls done() once `keys` keys have arrived and nothing has run for
  // `quietMs` (work a key leads to may come in pieces), or after `limitMs`.
  probe.finish = (keys, quietMs, limitMs, done) => {
    const begun = clock();
    const check = () => {
      const now = clock();
      const settled = probe.keys.length >= keys && probe.open === 0 && now - probe.lastActivity >= quietMs;
      if (!settled && now - begun < limitMs) return void original.setTimeout(check, 20);
      probe.recording = false;
      done({ settled, keys: probe.keys, intervals: probe.intervals, workerTrips: probe.workerTrips });
    };
    check();
  };
  // Waits, not recording, until nothing of the page's has run for quietMs.
  probe.quiet = (quietMs, limitMs, done) => {
    probe.start();
    probe.finish(0, quietMs, limitMs, (result) => done(result.settled));
  };

  // --- the first frame -------------------------------------------------------
  const expect = new URL(document.currentScript.src).searchParams.get("expect");
  function showsWhatItIsFor() {
    if (expect === null) return document.readyState !== "loading";
    const content = document.querySelector(".cm-content");
    return !!content && content.isContentEditable && content.contains(document.activeElement) &&
      content.textContent.includes(expect);
  }
  let seen = false;
  function check() {
    if (seen || !showsWhatItIsFor()) return;
    seen = true;
    observer.disconnect();
    original.requestAnimationFrame(() => atEndOfTask(() => {
      probe.ready = performance.timeOrigin + clock();
      try {
        window.webkit.messageHandlers.quillmarsh.postMessage({ benchReady: true });
      } catch {
        // Outside the program: the time is still kept.
      }
    }));
  }
  const observer = new original.MutationObserver(check);
  observer.observe(document, { childList: true, subtree: true, characterData: true, attributes: true });
  original.addEventListener.call(document, "focusin", check, true);
  original.addEventListener.call(document, "readystatechange", check);
})();
