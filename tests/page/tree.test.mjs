import { test } from "node:test";
import assert from "node:assert/strict";
import { buildTree, visibleRows, ancestors } from "../../resources/editor/src/page/tree.js";

const paths = ["b.md", "a/x.md", "a/deep/y.md", "a10/z.md", "a2/w.md", ".hidden/h.md"];
const shown = (rows) => rows.map((row) => `${"  ".repeat(row.depth)}${row.kind === "folder" ? (row.expanded ? "-" : "+") : ""}${row.name}`);

test("folders come first in name order, closed until expanded", () => {
  const tree = buildTree(paths);
  assert.deepEqual(shown(visibleRows(tree, new Set())), ["+.hidden", "+a", "+a2", "+a10", "b.md"]);
  assert.deepEqual(shown(visibleRows(tree, new Set(["a", "a/deep"]))),
                   ["+.hidden", "-a", "  -deep", "    y.md", "  x.md", "+a2", "+a10", "b.md"]);
  // An expanded folder inside a closed one stays hidden.
  assert.deepEqual(shown(visibleRows(tree, new Set(["a/deep"]))), ["+.hidden", "+a", "+a2", "+a10", "b.md"]);
});

test("the filter shows matching documents with their folders opened", () => {
  const tree = buildTree(paths);
  assert.deepEqual(shown(visibleRows(tree, new Set(), "Y.M")), ["-a", "  -deep", "    y.md"]);
  assert.deepEqual(shown(visibleRows(tree, new Set(), "deep")), ["-a", "  -deep", "    y.md"]);
  assert.deepEqual(visibleRows(tree, new Set(), "nothing"), []);
});

test("the folders above a document", () => {
  assert.deepEqual(ancestors("a/deep/y.md"), ["a", "a/deep"]);
  assert.deepEqual(ancestors("b.md"), []);
});
