import { test } from "node:test";
import assert from "node:assert/strict";
import { settingFields, formValues, changesOf } from "../../resources/editor/src/page/settingsForm.js";

const defaults = {
  theme: "system", textSize: "medium", width: "medium", pageView: true, margins: "normal", lineNumbers: false,
  autosaveDefault: true, autosaveDelay: 1.5, assetsFolder: "assets", startup: "ask", updates: "ask",
};

test("the form shows the program's values, and what it cannot show as the first choice", () => {
  assert.deepEqual(formValues(defaults), { ...defaults, autosaveDelay: "1.5" });
  const odd = formValues({ ...defaults, theme: "sepia", autosaveDelay: 2, lineNumbers: "yes", assetsFolder: 7 });
  assert.deepEqual([odd.theme, odd.autosaveDelay, odd.lineNumbers, odd.assetsFolder], ["system", "1.5", false, ""]);
  // Every field the dialog shows has a value in the form, and only those.
  assert.deepEqual(Object.keys(formValues({})).sort(), settingFields.map((field) => field.key).sort());
});

test("a form read back unchanged sends nothing", () => {
  assert.deepEqual(changesOf(formValues(defaults), defaults), { changes: {}, invalid: [] });
});

test("only valid choices are sent, as the program keeps them", () => {
  const cases = [
    // [control values, changes sent, keys left out]
    [{ theme: "dark" }, { theme: "dark" }, []],
    [{ theme: "Dark" }, {}, ["theme"]],
    [{ textSize: "xlarge", width: "full" }, { textSize: "xlarge", width: "full" }, []],
    [{ autosaveDelay: "10" }, { autosaveDelay: 10 }, []],
    [{ autosaveDelay: "2" }, {}, ["autosaveDelay"]],
    [{ autosaveDelay: "1.50" }, {}, ["autosaveDelay"]],
    [{ lineNumbers: true, pageView: false }, { lineNumbers: true, pageView: false }, []],
    [{ lineNumbers: "true" }, {}, ["lineNumbers"]],
    [{ assetsFolder: " My pictures " }, { assetsFolder: "My pictures" }, []],
    [{ assetsFolder: ".hidden" }, {}, ["assetsFolder"]],
    [{ assetsFolder: "a..b" }, {}, ["assetsFolder"]],
    [{ assetsFolder: "a/b" }, {}, ["assetsFolder"]],
    [{ assetsFolder: "x".repeat(65) }, {}, ["assetsFolder"]],
    [{ assetsFolder: "x".repeat(64) }, { assetsFolder: "x".repeat(64) }, []],
    [{ startup: "reopen", updates: "on" }, { startup: "reopen", updates: "on" }, []],
    [{ updates: "sometimes" }, {}, ["updates"]],
    // Keys the dialog does not show are never sent from it.
    [{ seenVersion: "9.9.9", plugins: {} }, {}, []],
  ];
  for (const [form, changes, invalid] of cases) {
    assert.deepEqual(changesOf(form, defaults), { changes, invalid }, JSON.stringify(form));
  }
});
