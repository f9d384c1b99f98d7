import { test } from "node:test";
import assert from "node:assert/strict";
import { windowAround, needsWindow, lineAtOffset, offsetOfLine } from "../../resources/editor/src/page/previewLayout.js";

// Paragraphs of four lines with a blank line after each: lines 5, 10, 15... are blank.
const lines = 1000;
const lineText = (n) => (n % 5 === 0 ? "" : `text ${n}`);

test("the rendered part covers the view and a margin, cut only at blank lines", () => {
  const cases = [
    // top, bottom, margin -> start, end
    [1, 40, 20, 1, 60],
    [500, 540, 20, 476, 560],
    [990, 1000, 20, 966, 1000],
    [2000, 3000, 20, 976, 1000], // a view past the end (the text shrank) stays inside it
  ];
  for (const [top, bottom, margin, start, end] of cases) {
    const shown = windowAround(lineText, lines, top, bottom, margin);
    assert.deepEqual(shown, { start, end }, `${top}..${bottom}`);
    assert.ok(shown.start === 1 || lineText(shown.start - 1) === "", "starts after a blank line");
    assert.ok(shown.end === lines || lineText(shown.end) === "", "ends on a blank line");
  }
  // A text without blank lines is cut after at most twice the margin.
  assert.deepEqual(windowAround(() => "x", lines, 500, 510, 20), { start: 460, end: 550 });
});

test("a new part is rendered only near an edge that is not the document's", () => {
  const shown = { start: 100, end: 400 };
  const cases = [
    [null, 1, 50, true],
    [shown, 200, 250, false],
    [shown, 110, 160, true],
    [shown, 300, 390, true],
    [{ start: 1, end: 400 }, 1, 50, false],
    [{ start: 600, end: 1000 }, 940, 1000, false],
  ];
  for (const [window, top, bottom, expected] of cases) assert.equal(needsWindow(window, top, bottom, lines), expected, `${top}..${bottom}`);
});

test("lines map to heights through the gaps and the rendered blocks, and back", () => {
  // Lines 1-99 are a gap of 10 px each; lines 100-199 rendered in two blocks; 200-1000 a gap.
  const layout = {
    lines, start: 100, end: 199, perLine: 10, renderedTop: 990, renderedBottom: 3000,
    marks: [{ line: 100, top: 1000 }, { line: 150, top: 2000 }],
  };
  const cases = [
    [1, 0],
    [50, 49 * 1000 / 99], // inside the gap above: in proportion, down to the first block (below its margin)
    [100, 1000],
    [125, 1500],
    [150, 2000],
    [175, 2500],
    [200, 3000],
    [1001, 3000 + 801 * 10],
  ];
  for (const [line, height] of cases) {
    assert.ok(Math.abs(offsetOfLine(line, layout) - height) < 1e-6, `line ${line} at ${offsetOfLine(line, layout)}, not ${height}`);
    assert.ok(Math.abs(lineAtOffset(height, layout) - line) < 1e-6, `height ${height}`);
  }
  // Heights past either end stay on the document's first and last lines.
  assert.equal(lineAtOffset(-50, layout), 1);
  assert.equal(lineAtOffset(1e9, layout), lines + 1);
  // Marks out of order (a block inside another) do not fold the map back.
  const folded = { ...layout, marks: [{ line: 100, top: 1000 }, { line: 150, top: 2000 }, { line: 140, top: 2100 }] };
  assert.ok(offsetOfLine(160, folded) > offsetOfLine(150, folded));
});
