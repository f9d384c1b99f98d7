// Fuzzy matching of document paths for quick open: the typed letters must
// appear in order; runs of letters, letters at the start of a word and letters
// in the file name weigh more, long paths a little less.

const wordStart = /[/\\._\-\s]/;

export function score(path, query) {
  if (!query) return 0;
  const text = path.toLowerCase();
  const wanted = query.toLowerCase().replace(/\s+/g, "");
  const nameStart = path.lastIndexOf("/") + 1;
  let total = 0;
  let from = 0;
  let previous = -2;
  for (const letter of wanted) {
    const at = text.indexOf(letter, from);
    if (at < 0) return null;
    let points = 1;
    if (at === previous + 1) points += 8;
    if (at === 0 || wordStart.test(path[at - 1])) points += 3;
    if (at >= nameStart) points += 2;
    total += points;
    previous = at;
    from = at + 1;
  }
  return total - path.length * 0.01;
}

// The best matches, best first; equal scores keep the listing's order.
export function quickOpenMatches(paths, query, limit = 50) {
  const found = [];
  paths.forEach((path, index) => {
    const points = score(path, query);
    if (points !== null) found.push({ path, points, index });
  });
  found.sort((x, y) => y.points - x.points || x.index - y.index);
  return found.slice(0, limit).map((entry) => entry.path);
}
