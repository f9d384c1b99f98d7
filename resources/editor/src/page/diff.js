// Line differences between two texts, laid out for two columns side by side.

// Above this many cells (lines of one side times lines of the other, after the
// common start and end are set aside) the middle is shown as one changed block:
// the table would cost more memory than the comparison is worth.
const maxCells = 4_000_000;

function lines(text) {
  return text.split("\n");
}

// Operations turning `a` into `b`: ["same", i, j], ["removed", i], ["added", j].
function operations(a, b) {
  let start = 0;
  while (start < a.length && start < b.length && a[start] === b[start]) start++;
  let endA = a.length;
  let endB = b.length;
  while (endA > start && endB > start && a[endA - 1] === b[endB - 1]) {
    endA--;
    endB--;
  }
  const ops = [];
  for (let i = 0; i < start; i++) ops.push(["same", i, i]);
  const n = endA - start;
  const m = endB - start;
  if (n * m > maxCells) {
    for (let i = start; i < endA; i++) ops.push(["removed", i]);
    for (let j = start; j < endB; j++) ops.push(["added", j]);
  } else if (n > 0 || m > 0) {
    // Longest common subsequence, filled from the end so the walk goes forwards.
    const width = m + 1;
    const table = new Uint32Array((n + 1) * width);
    for (let i = n - 1; i >= 0; i--) {
      for (let j = m - 1; j >= 0; j--) {
        table[i * width + j] = a[start + i] === b[start + j]
          ? table[(i + 1) * width + j + 1] + 1
          : Math.max(table[(i + 1) * width + j], table[i * width + j + 1]);
      }
    }
    let i = 0;
    let j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[start + i] === b[start + j]) {
        ops.push(["same", start + i++, start + j++]);
      } else if (j >= m || (i < n && table[(i + 1) * width + j] >= table[i * width + j + 1])) {
        ops.push(["removed", start + i++]);
      } else {
        ops.push(["added", start + j++]);
      }
    }
  }
  for (let k = 0; endA + k < a.length; k++) ops.push(["same", endA + k, endB + k]);
  return ops;
}

// Rows of the side-by-side view: {left, right, changed}. Removed and added lines
// that stand together are paired row by row; the shorter side is padded with null.
export function sideBySide(mine, theirs) {
  const a = lines(mine);
  const b = lines(theirs);
  const rows = [];
  let removed = [];
  let added = [];
  const flush = () => {
    for (let k = 0; k < Math.max(removed.length, added.length); k++) {
      rows.push({ left: k < removed.length ? removed[k] : null, right: k < added.length ? added[k] : null, changed: true });
    }
    removed = [];
    added = [];
  };
  for (const [kind, i, j] of operations(a, b)) {
    if (kind === "same") {
      flush();
      rows.push({ left: a[i], right: b[j], changed: false });
    } else if (kind === "removed") {
      removed.push(a[i]);
    } else {
      added.push(b[i]); // an added line carries its index on the right only
    }
  }
  flush();
  return rows;
}
