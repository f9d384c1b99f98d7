import { test } from "node:test";
import assert from "node:assert/strict";
import { PauseTimer } from "../../resources/editor/src/page/pauseTimer.js";
import {
  newRecoveryId, keepBody, sessionBody, fitView, delayOf, mayAutosave,
} from "../../resources/editor/src/page/rememberRules.js";

// A clock the test moves by hand: timers run in due order as time passes.
function fakeClock() {
  let now = 0;
  let next = 1;
  const timers = new Map();
  return {
    now: () => now,
    setTimeout: (run, wait) => (timers.set(next, { at: now + wait, run }), next++),
    clearTimeout: (handle) => timers.delete(handle),
    advance(to) {
      for (;;) {
        const due = [...timers].filter(([, timer]) => timer.at <= to).sort((a, b) => a[1].at - b[1].at)[0];
        if (!due) break;
        timers.delete(due[0]);
        now = due[1].at;
        due[1].run();
      }
      now = to;
    },
  };
}

// Changes at the given times; answers when the work ran.
function firings({ pause, most }, changes, until) {
  const clock = fakeClock();
  const ran = [];
  const timer = new PauseTimer({ pause, most, clock, run: () => ran.push(clock.now()) });
  for (const at of changes) {
    clock.advance(at);
    timer.changed("tab");
  }
  clock.advance(until);
  return ran;
}

const every = (step, from, to) => Array.from({ length: Math.floor((to - from) / step) + 1 }, (_, i) => from + i * step);

test("kept once typing pauses, and every few seconds while it goes on", () => {
  const recovery = { pause: 1000, most: 5000 };
  const cases = [
    ["one key", recovery, [0], [1000]],
    ["a burst waits for its pause", recovery, [0, 500, 900], [1900]],
    ["a pause then more typing", recovery, [0, 2000, 2100], [1000, 3100]],
    ["typing without a pause: at most every five seconds", recovery, every(300, 0, 6900), [5000, 7900]],
    ["auto-save waits for the pause however long typing goes on", { pause: 1500, most: Infinity }, every(300, 0, 9000), [10500]],
    ["nothing typed, nothing done", recovery, [], []],
  ];
  for (const [name, timing, changes, expected] of cases) {
    assert.deepEqual(firings(timing, changes, 30000), expected, name);
  }
});

test("the work is told whether typing paused or went on without a pause", () => {
  const clock = fakeClock();
  const ran = [];
  const timer = new PauseTimer({ pause: 1000, most: 5000, clock, run: (key, { paused }) => ran.push([clock.now(), paused]) });
  for (const at of every(300, 0, 6000)) {
    clock.advance(at);
    timer.changed("tab");
  }
  clock.advance(20000);
  assert.deepEqual(ran, [[5000, false], [7000, true]]);
});

test("a cancelled key does nothing and a flushed one runs at once, once", () => {
  const clock = fakeClock();
  const ran = [];
  const timer = new PauseTimer({ pause: 1000, most: 5000, clock, run: (key) => ran.push([key, clock.now()]) });
  timer.changed("a");
  timer.changed("b");
  clock.advance(200);
  timer.cancel("a");
  timer.flush("b");
  timer.flush("b");
  assert.equal(timer.pending("a"), false);
  clock.advance(10000);
  assert.deepEqual(ran, [["b", 200]]);
  // After a cancel the next change starts a fresh window, not the old one's.
  timer.changed("a");
  clock.advance(10900);
  assert.equal(ran.length, 1);
  clock.advance(11500);
  assert.deepEqual(ran.at(-1), ["a", 11000]);
});

test("recovery ids fit the program's rule and differ per tab", () => {
  const ids = new Set(Array.from({ length: 50 }, () => newRecoveryId()));
  assert.equal(ids.size, 50);
  for (const id of ids) assert.match(id, /^[A-Za-z0-9_-]{6,40}$/);
});

test("a kept text names its document only where the program finds it again", () => {
  const folder = "/home/me/Notes";
  const base = { recoveryId: "r0123456", name: "a.md" };
  const cases = [
    ["untitled", { ...base, version: "new" }, { base: "" }],
    ["in the open folder", { ...base, path: "a.md", folder, version: "v1" }, { base: "v1", path: "a.md" }],
    ["of a folder no longer open", { ...base, path: "a.md", folder: "/home/me/Old", version: "v1" }, { base: "v1" }],
    ["opened by itself", { ...base, file: "f3", location: "/tmp/a.md", version: "v2" }, { base: "v2", file: "f3" }],
  ];
  for (const [name, tab, expected] of cases) {
    assert.deepEqual(keepBody(tab, "text", folder), { id: "r0123456", text: "text", name: "a.md", ...expected }, name);
  }
});

test("the session holds the tabs the program can reopen, the active one among them, and their views", () => {
  const folder = "/home/me/Notes";
  const list = [
    { id: 1, path: "a.md", folder },
    { id: 2, name: "Untitled.md" },
    { id: 3, file: "f1" },
    { id: 4, path: "b.md", folder: "/home/me/Old" },
    { id: 5, path: "c/d.md", folder },
  ];
  const viewOf = (tab) => ({ anchor: tab.id, head: tab.id * 10, top: tab.id * 100.4 });
  const cases = [
    [3, 1],
    [5, 2],
    [2, 0], // an untitled active tab is not reopened: the first one is shown
  ];
  for (const [activeId, active] of cases) {
    assert.deepEqual(sessionBody(list, activeId, folder, viewOf), {
      tabs: [{ path: "a.md" }, { file: "f1" }, { path: "c/d.md" }],
      active,
      views: [{ anchor: 1, head: 10, top: 100 }, { anchor: 3, head: 30, top: 301 }, { anchor: 5, head: 50, top: 502 }],
    });
  }
  assert.deepEqual(sessionBody([], null, null, viewOf), { tabs: [], active: 0, views: [] });
});

test("a remembered view fits a document that changed since", () => {
  const cases = [
    [{ anchor: 3, head: 7, top: 4 }, 10, { anchor: 3, head: 7, top: 4 }],
    [{ anchor: 30, head: 70, top: 40 }, 10, { anchor: 10, head: 10, top: 10 }],
    [{ anchor: -1, head: 2.5, top: -8 }, 10, { anchor: 0, head: 0, top: 0 }],
    [undefined, 10, { anchor: 0, head: 0, top: 0 }],
  ];
  for (const [view, length, expected] of cases) assert.deepEqual(fitView(view, length), expected, JSON.stringify(view));
});

test("auto-save: the delay of the setting, and only documents with edits that may be written", () => {
  assert.deepEqual([1.5, 3, 5, 10, 2, "5", undefined].map(delayOf), [1.5, 3, 5, 10, 1.5, 1.5, 1.5]);
  const folder = "/home/me/Notes";
  const edited = { path: "a.md", folder, dirty: true };
  const cases = [
    ["edited, in the open folder", edited, true],
    ["opened by itself", { file: "f1", dirty: true }, true],
    ["no edits", { ...edited, dirty: false }, false],
    ["untitled", { dirty: true }, false],
    ["of a folder no longer open", { ...edited, folder: "/home/me/Old" }, false],
    ["deleted elsewhere", { ...edited, missing: true }, false],
    ["waiting on a conflict", { ...edited, notice: { kind: "conflict" } }, false],
    ["with another notice", { ...edited, notice: { text: "Reloaded" } }, true],
    ["no tab", null, false],
  ];
  for (const [name, tab, expected] of cases) assert.equal(mayAutosave(tab, folder), expected, name);
});
