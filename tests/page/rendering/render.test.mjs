// Needs the page's packages: run by scripts/build-page.sh --test, which installs
// them from the lockfile and names their folder in QUILLMARSH_PAGE_MODULES.
import { test } from "node:test";
import assert from "node:assert/strict";
import path from "node:path";
import { createRequire } from "node:module";
import { pathToFileURL } from "node:url";
import { makeRenderer, renderBlocks } from "../../../resources/editor/src/page/render.js";
import { collectDefinitions } from "../../../resources/editor/src/page/linkDefinitions.js";

const modules = process.env.QUILLMARSH_PAGE_MODULES;
const resolve = createRequire(path.join(modules, "resolve-from-here.js")).resolve;
const { default: MarkdownIt } = await import(pathToFileURL(resolve("markdown-it")).href);
const md = makeRenderer(MarkdownIt);

test("top-level blocks come with the line they start on", () => {
  const text = "# Title\n\nFirst paragraph\nstill first.\n\n- one\n- two\n\n```\ncode\n```\n";
  const blocks = renderBlocks(md, text, 10);
  assert.deepEqual(blocks.map((block) => block.line), [10, 12, 15, 18]);
  assert.deepEqual(blocks.map((block) => block.html.match(/^<(\w+)/)[1]), ["h1", "p", "ul", "pre"]);
  assert.equal(blocks.map((block) => block.html).join(""), md.render(text));
});

test("an edit changes only its own block, not the blocks after it", () => {
  const before = renderBlocks(md, "# A\n\nOne.\n\nTwo.\n", 1).map((block) => block.html);
  const after = renderBlocks(md, "# A\n\nOne\nmore.\n\nTwo.\n", 1).map((block) => block.html);
  assert.equal(after[0], before[0]);
  assert.notEqual(after[1], before[1]);
  assert.equal(after[2], before[2]);
});

test("tables, strikethrough, task lists and bare web addresses", () => {
  const cases = [
    ["| a |\n|---|\n| 1 |\n", /<table>[\s\S]*<td>1<\/td>/],
    ["~~gone~~\n", /<s>gone<\/s>/],
    ["- [x] done\n- [ ] open\n", /<li class="task-item"><input type="checkbox" disabled checked> done<\/li>\n<li class="task-item"><input type="checkbox" disabled> open/],
    ["see www.example.org\n", /<a href="http:\/\/www\.example\.org">www\.example\.org<\/a>/],
    ["- [y] not a box\n", /<li>\[y\] not a box<\/li>/],
  ];
  for (const [text, expected] of cases) assert.match(md.render(text), expected, text);
});

test("a part of a document resolves references defined outside it, as the whole document would", () => {
  const lines = ["[top]: https://top.example", "", "See [top], [low][] and ![pic][low].", "", "[low]: https://low.example \"Low\"", "[top]: https://second.example"];
  const part = lines.slice(2, 3).join("\n");
  const html = renderBlocks(md, part, 3, collectDefinitions(lines)).map((block) => block.html).join("");
  assert.equal(html, md.render(lines.join("\n")));
  assert.match(html, /<a href="https:\/\/top\.example">top<\/a>/);
  // Without them the references stay text.
  assert.doesNotMatch(renderBlocks(md, part, 3).map((block) => block.html).join(""), /<a /);
});

test("counts kept per piece of a large document match counting it whole, before and after edits", async () => {
  const { Text } = await import(pathToFileURL(resolve("@codemirror/state")).href);
  const { countText, countLines } = await import("../../../resources/editor/src/page/counts.js");
  const lines = Array.from({ length: 5000 }, (_, k) => (k % 7 ? `line ${k} caf\u00e9 words` : ""));
  let doc = Text.of(lines);
  assert.ok(doc.children, "a document this large is a tree of pieces");
  assert.deepEqual(countText(doc), countLines(doc.iterLines()));
  // Typing inside a line, a line break in a word, and a deletion across pieces.
  for (const change of [{ from: 20, insert: "more " }, { from: 4003, insert: "\n" }, { from: 100, to: 60000 }]) {
    doc = doc.replace(change.from, change.to ?? change.from, Text.of(change.insert ? change.insert.split("\n") : [""]));
    assert.deepEqual(countText(doc), countLines(doc.iterLines()), JSON.stringify(change));
  }
});
