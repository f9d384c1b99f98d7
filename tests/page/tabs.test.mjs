import { test } from "node:test";
import assert from "node:assert/strict";
import { Tabs, sameDocument } from "../../resources/editor/src/page/tabs.js";

test("a document is found under any of its names", () => {
  const tab = { path: "notes/a.md", folder: "/home/me/Notes", location: "/home/me/Notes/notes/a.md" };
  const cases = [
    [{ path: "notes/a.md", folder: "/home/me/Notes" }, true],
    [{ path: "notes/a.md", folder: "/home/me/Other" }, false],
    [{ file: "h1", location: "/home/me/Notes/notes/a.md" }, true],
    [{ path: "notes/b.md", folder: "/home/me/Notes" }, false],
    [{ file: "h2", location: "/home/me/Notes/notes/b.md" }, false],
    [{ path: undefined, location: undefined }, false],
  ];
  for (const [probe, expected] of cases) assert.equal(sameDocument(tab, probe), expected, JSON.stringify(probe));
});

test("new tabs open right of the shown one, closing shows a neighbour", () => {
  const tabs = new Tabs();
  const a = tabs.add({ name: "a" });
  const c = tabs.add({ name: "c" });
  tabs.activate(a.id);
  const b = tabs.add({ name: "b" });
  assert.deepEqual(tabs.list.map((tab) => tab.name), ["a", "b", "c"]);
  assert.equal(tabs.active, b);
  assert.equal(tabs.remove(b.id), c, "the right neighbour is shown");
  assert.equal(tabs.remove(c.id), a, "the left one when there is none right");
  tabs.add({ name: "d" });
  assert.equal(tabs.remove(a.id).name, "d", "closing a tab not shown keeps the shown one");
  assert.equal(tabs.remove(tabs.activeId), null);
});

test("switching goes round the ends both ways", () => {
  const tabs = new Tabs();
  for (const name of ["a", "b", "c"]) tabs.add({ name });
  assert.deepEqual([1, 1, 1, -1, -1].map((step) => tabs.cycle(step).name), ["a", "b", "c", "b", "a"]);
  assert.equal(new Tabs().cycle(1), null);
});

test("unsaved lists only tabs with edits", () => {
  const tabs = new Tabs();
  tabs.add({ name: "a" });
  const b = tabs.add({ name: "b" });
  b.dirty = true;
  assert.deepEqual(tabs.unsaved(), [b]);
});
