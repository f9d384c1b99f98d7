// Runs work for a key once changes to it pause, and, while changes go on
// without a pause, at least every `most` milliseconds. A change only notes its
// time (typing makes one per key); the one timer of a key, when it comes due,
// looks whether changes came since and waits on for the rest of the pause.

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
    this.waiting = new Map(); // key -> { first, last, handle }
  }

  changed(key) {
    const now = this.clock.now();
    const entry = this.waiting.get(key);
    if (entry) {
      entry.last = now;
      return;
    }
    const fresh = { first: now, last: now, handle: null };
    this.waiting.set(key, fresh);
    this.arm(key, fresh, now);
  }

  // When the work is due: the end of the pause after the last change, or
  // `most` after the first, whichever comes first.
  due(entry) {
    return Math.min(entry.last + this.pause, entry.first + this.most);
  }

  arm(key, entry, now) {
    entry.handle = this.clock.setTimeout(() => this.check(key, entry), Math.max(0, this.due(entry) - now));
  }

  check(key, entry) {
    if (this.waiting.get(key) !== entry) return;
    const now = this.clock.now();
    if (now < this.due(entry)) return this.arm(key, entry, now);
    this.fire(key, entry.last + this.pause <= entry.first + this.most);
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
