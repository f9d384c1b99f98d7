// The page's colours, light and dark, read from its style sheet: text must
// stand out from what it is drawn on by 4.5:1, controls and the focus ring by 3:1.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";

const css = readFileSync(new URL("../../resources/editor/src/page/styles.css", import.meta.url), "utf8");

function palette(block) {
  return Object.fromEntries([...block.matchAll(/--([\w-]+):\s*(#[0-9a-f]{6})/gi)].map(([, name, hex]) => [name, hex]));
}
const light = palette(css.match(/:root\s*\{([^}]*)\}/)[1]);
const dark = { ...light, ...palette(css.match(/prefers-color-scheme:\s*dark\)\s*\{\s*:root[^{]*\{([^}]*)\}/)[1]) };
// Dark chosen in the settings, whatever the system prefers: the same colours.
const chosenDark = { ...light, ...palette(css.match(/:root\[data-theme="dark"\]\s*\{([^}]*)\}/)[1]) };
test("dark chosen in the settings is the system's dark", () => assert.deepEqual(chosenDark, dark));

function luminance(hex) {
  const channel = (k) => {
    const value = parseInt(hex.slice(1 + 2 * k, 3 + 2 * k), 16) / 255;
    return value <= 0.03928 ? value / 12.92 : ((value + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * channel(0) + 0.7152 * channel(1) + 0.0722 * channel(2);
}

function contrast(one, two) {
  const [high, low] = [luminance(one), luminance(two)].sort((x, y) => y - x);
  return (high + 0.05) / (low + 0.05);
}

// [foreground, backgrounds, least ratio]: each pair as the style sheet draws it.
const pairs = [
  ["text", ["page", "chrome", "strip", "hover", "selected", "notice", "error", "changed-mine", "changed-theirs"], 4.5],
  ["muted", ["page", "chrome", "strip", "hover"], 4.5], // tab names, status bar, folder name, line numbers, quotes, hints
  ["accent", ["page", "chrome"], 4.5], // links in the preview
  ["page", ["accent"], 4.5], // the default button's label
  ["missing", ["page", "chrome", "error"], 4.5],
  ["md-heading", ["page"], 4.5],
  ["md-link", ["page"], 4.5],
  ["md-code", ["page"], 4.5],
  ["md-quote", ["page"], 4.5],
  ["md-mark", ["page"], 4.5],
  ["faint", ["page", "chrome"], 3], // folder arrows, the tab's close button
  ["accent", ["page", "chrome", "strip", "hover", "selected"], 3], // the focus ring
];

test("text and controls are readable in light and in dark", () => {
  assert.ok(Object.keys(light).length > 10 && Object.keys(dark).length === Object.keys(light).length, "both palettes read");
  const short = [];
  for (const [name, colours] of [["light", light], ["dark", dark]]) {
    for (const [front, backs, least] of pairs) {
      for (const back of backs) {
        assert.ok(colours[front] && colours[back], `${name}: --${front} and --${back} are defined`);
        const ratio = contrast(colours[front], colours[back]);
        if (ratio < least) short.push(`${name}: --${front} on --${back} is ${ratio.toFixed(2)}:1, under ${least}:1`);
      }
    }
  }
  assert.deepEqual(short, []);
});

test("the contrast formula gives the known extremes", () => {
  assert.equal(contrast("#000000", "#ffffff"), 21);
  assert.equal(contrast("#777777", "#777777"), 1);
  assert.ok(Math.abs(contrast("#767676", "#ffffff") - 4.54) < 0.01);
});
