// Runs work for a key once changes to it pause, and, while changes go on
// without a pause, at least every `most` milliseconds. Each change costs one
// timer reset, whatever the size of the document behind the key.

const browserClock = {
  now: () => performance.now(),
  setTimeout: (run, wait) => setTimeout(run, wait),
  clearTimeout: (handle) => clearTimeout(handle),
};

export class PauseTimer {
  // run(key, { paused }) does the work (paused: changes paused, rather than
  // went on for `most`); pause and most are in milliseconds (most may be Infinity).
  constructor({ pause, most = Infinity, run, clock = browserClock }) {
    this.pause = pause;
    this.most = most;
    this.run = run;
    this.clock = clock;
    this.waiting = new Map(); // key -> { first, handle }
  }

  changed(key) {
    const now = this.clock.now();
    const entry = this.waiting.get(key) || { first: now, handle: null };
    if (entry.handle !== null) this.clock.clearTimeout(entry.handle);
    const paused = now + this.pause <= entry.first + this.most;
    const due = paused ? now + this.pause : entry.first + this.most;
    entry.handle = this.clock.setTimeout(() => this.fire(key, paused), Math.max(0, due - now));
    this.waiting.set(key, entry);
  }

  pending(key) {
    return this.waiting.has(key);
  }

  cancel(key) {
    const entry = this.waiting.get(key);
    if (!entry) return;
    this.clock.clearTimeout(entry.handle);
    this.waiting.delete(key);
  }

  // Runs the waiting work of a key now (nothing when none waits).
  flush(key) {
    if (!this.waiting.has(key)) return;
    this.cancel(key);
    this.run(key, { paused: false });
  }

  fire(key, paused) {
    this.waiting.delete(key);
    this.run(key, { paused });
  }
}
