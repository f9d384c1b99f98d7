import { test } from "node:test";
import assert from "node:assert/strict";
import { collectDefinitions } from "../../resources/editor/src/page/linkDefinitions.js";

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
