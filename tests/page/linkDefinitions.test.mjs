import { test } from "node:test";
import assert from "node:assert/strict";
import { collectDefinitions, ordinaryLine } from "../../resources/editor/src/page/linkDefinitions.js";

const collect = (text) => collectDefinitions(text.split("\n"));

test("definitions are found wherever they stand, and look-alikes are not", () => {
  const cases = [
    ["[a]: https://a.example\n", "[a]: https://a.example"],
    ["# Title\n[a]: /a\n   [b]: /b 'B'\n", "[a]: /a\n\n   [b]: /b 'B'"],
    // A title or destination on the next line belongs to the definition.
    ["[a]:\n  /a\n\n[b]: /b\n  \"Title\"\n", "[a]:\n  /a\n\n[b]: /b\n  \"Title\""],
    // Inside fenced code, indented as code, or continuing a paragraph: not definitions.
    ["```\n[a]: /a\n```\n~~~~\n[b]: /b\n~~~\n[c]: /c\n~~~~\n", ""],
    ["    [a]: /a\n", ""],
    ["Some text\n[a]: /a\n", ""],
    ["[not]: closed\n```\n[a]: /a\n", "[not]: closed"],
    ["[x] a task, not a definition\n[a]: /a\n", ""],
    ["Text\n\n[a\\]b]: /ab\n", "[a\\]b]: /ab"],
  ];
  for (const [text, expected] of cases) assert.equal(collect(text), expected, JSON.stringify(text));
});

test("an edit of an ordinary line cannot change the definitions; others may", () => {
  const cases = [
    ["Some words in a paragraph", true],
    ["  indented words", true],
    ["1. a numbered item", true],
    ["", false],
    ["   ", false],
    ["[a]: /a", false],
    ["```", false],
    ["~~~", false],
    ["# Heading", false],
    ["> quote", false],
    ["- item", false],
    ["***", false],
  ];
  for (const [line, expected] of cases) assert.equal(ordinaryLine(line), expected, JSON.stringify(line));
  // The promise behind it: the same document with one ordinary line edited has the same definitions.
  const lines = ["[a]: /a", "", "Words here.", "[b]: /b", "", "[c]: /c"];
  const edited = lines.map((line, k) => (k === 2 ? "Other words, longer." : line));
  assert.equal(collectDefinitions(edited), collectDefinitions(lines));
});
