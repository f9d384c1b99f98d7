import { test } from "node:test";
import assert from "node:assert/strict";
import { pictureKind, pictureKey, pictureProblem } from "../../resources/editor/src/page/pictureReferences.js";

test("only local references are asked of the program", () => {
  const cases = [
    ["shots/one.png", "local"],
    ["./one.png", "local"],
    ["../up/one.png", "local"],
    ["/home/someone/one.png", "local"],
    ["my%20picture.png", "local"],
    ["one.png#part", "local"],
    ["data:image/png;base64,AAAA", "data"],
    ["DATA:image/svg+xml,<svg/>", "data"],
    ["data:text/html,<b>", "remote"],
    ["https://example.org/a.png", "remote"],
    ["HTTP://example.org/a.png", "remote"],
    ["//example.org/a.png", "remote"],
    ["\\\\server\\share\\a.png", "remote"],
    ["file:///etc/a.png", "remote"],
    ["javascript:alert(1)", "remote"],
    ["", "none"],
    ["   ", "none"],
    [undefined, "none"],
  ];
  for (const [src, kind] of cases) assert.equal(pictureKind(src), kind, String(src));
});

test("a fetched picture is known by its document and reference", () => {
  const keys = [
    pictureKey({ path: "a/doc.md" }, "one.png"),
    pictureKey({ path: "b/doc.md" }, "one.png"),
    pictureKey({ file: "h1" }, "one.png"),
    pictureKey({ path: "a/doc.md" }, "two.png"),
  ];
  assert.equal(new Set(keys).size, keys.length);
  assert.equal(pictureKey({ path: "a/doc.md", folder: "/x" }, "one.png"), keys[0]);
});

test("a refusal's placeholder says why", () => {
  assert.equal(pictureProblem(404, "x"), "Picture not found");
  assert.equal(pictureProblem(415, "x"), "Not a picture the preview shows");
  assert.equal(pictureProblem(403, "the picture is outside the allowed folder"), "Picture not shown: the picture is outside the allowed folder");
});
