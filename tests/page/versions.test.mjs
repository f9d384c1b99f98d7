import { test } from "node:test";
import assert from "node:assert/strict";
import { versionItems, versionActions, saveRefusal } from "../../resources/editor/src/page/versions.js";

test("only documents read from disk are checked, each by its own name", () => {
  const tabs = [
    { id: 1, path: "a.md", version: "v1" },
    { id: 2, file: "h7", version: "v2" },
    { id: 3, file: "h8", version: "new" },
    { id: 4, version: "new" },
  ];
  assert.deepEqual(versionItems(tabs), [{ key: "1", path: "a.md" }, { key: "2", file: "h7" }]);
});

test("what a version on disk means for a tab", () => {
  const cases = [
    // [tab, version now, expected action or null]
    [{ version: "v1" }, "v1", null],
    [{ version: "v1" }, undefined, null],
    [{ version: "v1" }, "unreadable", null],
    [{ version: "v1" }, "v2", { action: "reload", version: "v2" }],
    [{ version: "v1", dirty: true }, "v2", { action: "conflict", version: "v2" }],
    [{ version: "v1", dirty: true, toldVersion: "v2" }, "v2", null],
    [{ version: "v1", dirty: true, toldVersion: "v2" }, "v3", { action: "conflict", version: "v3" }],
    [{ version: "v1" }, "missing", { action: "missing" }],
    [{ version: "v1", missing: true }, "missing", null],
    [{ version: "v1", missing: true }, "v1", { action: "back" }],
    [{ version: "v1", missing: true, dirty: true }, "v2", { action: "conflict", version: "v2" }],
  ];
  for (const [tab, now, expected] of cases) {
    const actions = versionActions([{ id: 5, ...tab }], now === undefined ? {} : { 5: now });
    assert.deepEqual(actions, expected ? [{ id: 5, ...expected }] : [], `${JSON.stringify(tab)} -> ${now}`);
  }
});

test("a refused save is overwritten only when the version in the way is this program's own", () => {
  assert.deepEqual(saveRefusal(409, { error: "changed", byThisApp: true }), { action: "overwrite" });
  assert.deepEqual(saveRefusal(409, { error: "changed" }), { action: "ask" });
  assert.deepEqual(saveRefusal(409, { byThisApp: "true" }), { action: "ask" });
  assert.deepEqual(saveRefusal(507, { error: "disk full" }), { action: "error" });
});
