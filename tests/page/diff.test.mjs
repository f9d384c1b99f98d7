import { test } from "node:test";
import assert from "node:assert/strict";
import { sideBySide } from "../../resources/editor/src/page/diff.js";

const side = (rows, key) => rows.filter((row) => row[key] !== null).map((row) => row[key]).join("\n");
const marked = (rows) => rows.map((row) => (row.changed ? `${row.left ?? "_"}|${row.right ?? "_"}` : "=")).join(" ");

test("changed, removed and added lines are paired and padded", () => {
  const cases = [
    ["a\nb\nc", "a\nb\nc", "= = ="],
    ["a\nb\nc", "a\nB\nc", "= b|B ="],
    ["a\nc", "a\nb\nc", "= _|b ="],
    ["a\nb\nc", "a\nc", "= b|_ ="],
    ["a\nb\nc\nd", "x\nb\ny\nz\nd", "a|x = c|y _|z ="],
    ["", "one", "|one"],
  ];
  for (const [mine, theirs, expected] of cases) {
    const rows = sideBySide(mine, theirs);
    assert.equal(marked(rows), expected, `${JSON.stringify(mine)} vs ${JSON.stringify(theirs)}`);
    assert.equal(side(rows, "left"), mine);
    assert.equal(side(rows, "right"), theirs);
  }
});

test("texts too different to compare line by line still show both whole", () => {
  const mine = Array.from({ length: 3000 }, (_, k) => `mine ${k}`).join("\n");
  const theirs = Array.from({ length: 3000 }, (_, k) => `theirs ${k}`).join("\n");
  const rows = sideBySide(`top\n${mine}\nend`, `top\n${theirs}\nend`);
  assert.equal(side(rows, "left"), `top\n${mine}\nend`);
  assert.equal(side(rows, "right"), `top\n${theirs}\nend`);
  assert.equal(rows[0].changed, false);
  assert.equal(rows[rows.length - 1].changed, false);
  assert.ok(rows.slice(1, -1).every((row) => row.changed));
});
