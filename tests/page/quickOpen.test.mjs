import { test } from "node:test";
import assert from "node:assert/strict";
import { quickOpenMatches, score } from "../../resources/editor/src/page/quickOpen.js";

test("the typed letters must appear in order, in any case", () => {
  assert.notEqual(score("notes/Weekly Plan.md", "wkpl"), null);
  assert.equal(score("notes/Weekly Plan.md", "plw"), null);
  assert.equal(score("a.md", "b"), null);
});

test("a match in the file name and at word starts ranks first", () => {
  const paths = ["plans/old/archive.md", "drafts/p-l-a-n.md", "misc/plan.md", "plan-notes/zzz.md"];
  assert.deepEqual(quickOpenMatches(paths, "plan"), ["misc/plan.md", "plan-notes/zzz.md", "plans/old/archive.md", "drafts/p-l-a-n.md"]);
});

test("one document among two thousand is found by part of its name", () => {
  const paths = Array.from({ length: 2000 }, (_, k) => `folder${k % 40}/note-${String(k).padStart(4, "0")}.md`);
  paths.splice(1234, 0, "deep/inside/meeting-minutes.md");
  assert.equal(quickOpenMatches(paths, "meetmin")[0], "deep/inside/meeting-minutes.md");
  assert.equal(quickOpenMatches(paths, "note-0007")[0], "folder7/note-0007.md");
  assert.equal(quickOpenMatches(paths, "note", 10).length, 10);
});
