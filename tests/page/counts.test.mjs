import { test } from "node:test";
import assert from "node:assert/strict";
import { countLines } from "../../resources/editor/src/page/counts.js";

test("words and the characters a person sees", () => {
  const cases = [
    [[""], 0, 0],
    [["# Plan", "", "- one two", "---"], 3, 18],
    [["don't re-read"], 2, 13],
    [["cafe\u0301 \u00e9t\u00e9"], 2, 8],
    [["\u{1F44D}\u{1F3FD} ok"], 1, 4],
    [["\u65e5\u672c\u8a9e"], 1, 3],
  ];
  for (const [lines, words, characters] of cases) {
    assert.deepEqual(countLines(lines), { words, characters }, JSON.stringify(lines));
  }
});
