// Which lines of a large document the preview renders, and where a line sits
// in a preview that holds only part of the document: the lines above and below
// the rendered part are gaps of an estimated height per line. Pure arithmetic,
// so the page and its tests share it.

// Lines rendered beyond those in view on either side.
export const windowMargin = 150;
// How close to the rendered part's edge the view may come before the next part is rendered.
const edge = 20;

// The start and end lines to render for a view showing lines top..bottom,
// widened to blank lines so that no paragraph or list is cut in two.
// lineText(n): the text of line n (counted from 1).
export function windowAround(lineText, lines, top, bottom, margin = windowMargin) {
  top = Math.max(1, Math.min(lines, Math.floor(top)));
  bottom = Math.max(top, Math.min(lines, Math.ceil(bottom)));
  let start = Math.max(1, top - margin);
  while (start > 1 && lineText(start - 1).trim() !== "" && top - start < margin * 2) start--;
  let end = Math.min(lines, bottom + margin);
  while (end < lines && lineText(end).trim() !== "" && end - bottom < margin * 2) end++;
  return { start, end };
}

// Whether a view of lines top..bottom comes near an edge of the rendered part
// that is not the document's own.
export function needsWindow(shown, top, bottom, lines) {
  if (!shown) return true;
  return (shown.start > 1 && top < shown.start + edge) || (shown.end < lines && bottom > shown.end - edge);
}

// The preview as a line -> height map: the gap above, the rendered blocks (marks:
// the line each starts on and its top, in order), the gap below.
// layout: { lines, start, end, perLine, renderedTop, renderedBottom, marks }
function points({ lines, start, end, perLine, renderedTop, renderedBottom, marks }) {
  const list = [[1, 0], [start, renderedTop]];
  for (const { line, top } of marks) {
    const last = list[list.length - 1];
    // The first block may start below the gap (its margin): the line is where the block is.
    if (line === last[0] && list.length === 2 && top >= last[1]) last[1] = top;
    // Blocks out of order or on one line (a nested start) add nothing to the map.
    else if (line > last[0] && line <= end && top >= last[1]) list.push([line, top]);
  }
  list.push([end + 1, Math.max(renderedBottom, list[list.length - 1][1])]);
  list.push([lines + 1, list[list.length - 1][1] + (lines - end) * perLine]);
  return list;
}

function interpolate(list, value, from, to) {
  if (value <= list[0][from]) return list[0][to];
  for (let k = 1; k < list.length; k++) {
    const [a, b] = [list[k - 1], list[k]];
    if (value < b[from] || k === list.length - 1) {
      const span = b[from] - a[from];
      const share = span > 0 ? Math.min(1, (value - a[from]) / span) : 0;
      return a[to] + (b[to] - a[to]) * share;
    }
  }
  return list[list.length - 1][to];
}

// The (fractional) line at height y of the preview.
export function lineAtOffset(y, layout) {
  return interpolate(points(layout), y, 1, 0);
}

// The height in the preview where a (fractional) line starts.
export function offsetOfLine(line, layout) {
  return interpolate(points(layout), line, 0, 1);
}
