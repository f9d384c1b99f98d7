import { test } from "node:test";
import assert from "node:assert/strict";
import { packageOf } from "../../resources/editor/src/licences.mjs";

test("the package a bundled file came from", () => {
  const cases = [
    ["node_modules/@codemirror/view/dist/index.js", "@codemirror/view"],
    ["node_modules/crelt/index.js", "crelt"],
    ["node_modules/a/node_modules/b/x.js", "b"],
    ["page/main.js", null],
    ["node_modules/@scope", null],
  ];
  for (const [input, expected] of cases) assert.equal(packageOf(input), expected, input);
});
