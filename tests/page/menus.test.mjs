import { test } from "node:test";
import assert from "node:assert/strict";
import { buildMenus, commandIds, commandOf, recentIndexOf } from "../../resources/editor/src/page/menus.js";

const view = {
  product: "Quillmarsh", hasDoc: true, hasFolder: true, tabCount: 2, sidebar: true, wrap: true, lineNumbers: false,
  recent: [{ name: "Notes", kind: "folder", index: 0 }, { name: "gone.md", kind: "file", index: 1, missing: true }],
};

function leaves(items, out = []) {
  for (const item of items) {
    if (item.sep) continue;
    if (item.sub) leaves(item.sub, out);
    else out.push(item);
  }
  return out;
}

// The program's key grammar: modifiers from its table, then Tab or one character.
function validKey(key) {
  const pieces = key.split("+").filter(Boolean);
  const last = pieces.pop();
  return pieces.length > 0 && pieces.every((name) => ["Cmd", "Ctrl", "Option", "Shift"].includes(name)) &&
         (last === "Tab" || [...last].length === 1);
}

test("every item the program may send back names a command of the page", () => {
  const items = leaves(buildMenus(view).flatMap((menu) => menu.items));
  const ids = items.map((item) => item.id);
  assert.equal(new Set(ids).size, ids.length, "ids are unique");
  for (const item of items) {
    assert.match(item.id, /^m[0-9.]+$/, item.label);
    assert.ok(commandOf(item.id) !== null || recentIndexOf(item.id) !== null, `${item.label} runs nothing`);
    if (item.key !== undefined) assert.ok(validKey(item.key), `${item.label}: ${item.key}`);
  }
  const keys = items.filter((item) => item.key).map((item) => item.key);
  assert.equal(new Set(keys).size, keys.length, "no key is given twice");
});

test("the editor's own commands are menu items on the keys the program also binds", () => {
  const edit = buildMenus(view).find((menu) => menu.label === "Edit").items;
  const keyOf = (id) => edit.find((item) => item.id === id)?.key;
  assert.deepEqual([commandIds.selectAll, commandIds.undo, commandIds.redo, commandIds.find].map(keyOf),
                   ["Cmd+A", "Cmd+Z", "Cmd+Shift+Z", "Cmd+F"]);
  assert.deepEqual(buildMenus(view).map((menu) => menu.label), ["File", "Edit", "View", "Format", "Help"]);
});

test("Open Recent lists the items by their index and state", () => {
  const file = buildMenus(view).find((menu) => menu.label === "File").items;
  const recent = file.find((item) => item.label === "Open Recent").sub;
  assert.deepEqual(recent.map((item) => [item.label, item.id, item.enabled]),
                   [["Notes/", "m1.3.1", true], ["gone.md", "m1.3.2", false], [undefined, undefined, undefined],
                    ["Clear Menu", commandIds.clearRecent, true]]);
  assert.deepEqual(["m1.3.1", "m1.3.12", "m1.3.0", "m1.3", "m1.4"].map(recentIndexOf), [0, 11, null, null, null]);
});

test("items that need a document or a folder are off without one", () => {
  const menus = buildMenus({ ...view, hasDoc: false, hasFolder: false, tabCount: 0, recent: [] });
  const off = leaves(menus.flatMap((menu) => menu.items)).filter((item) => item.enabled === false).map((item) => commandOf(item.id));
  for (const name of ["save", "saveAs", "closeTab", "closeFolder", "quickOpen", "selectAll", "bold", "nextTab", "clearRecent"]) {
    assert.ok(off.includes(name), name);
  }
  for (const name of ["openFolder", "openFile", "newDocument", "about"]) assert.ok(!off.includes(name), name);
});

test("the templates plugin's items are there only while it is on", () => {
  const fileItems = (templates) => buildMenus({ ...view, templates }).find((menu) => menu.label === "File").items;
  const sub = fileItems(true).find((item) => item.label === "Templates").sub;
  assert.deepEqual(sub.filter((item) => item.id).map((item) => commandOf(item.id)),
                   ["newFromTemplate", "saveAsTemplate", "chooseTemplates", "forgetTemplates"]);
  assert.equal(fileItems(false).some((item) => item.label === "Templates"), false);
});
