// Word and character counts for the status bar, line by line so a large
// document is never copied into one string. Characters are what a person sees
// as one (a letter with its accents, an emoji sequence); line breaks are not counted.

// A word starts with a letter or digit: list markers and rules are not words.
const wordPattern = /[\p{L}\p{N}][\p{L}\p{N}\p{M}_'\u2019-]*/gu;
const graphemes = typeof Intl !== "undefined" && Intl.Segmenter ? new Intl.Segmenter(undefined, { granularity: "grapheme" }) : null;

function charactersIn(line) {
  // Plain ASCII is one character per unit; only other text needs segmenting.
  if (!/[^\x00-\x7f]/.test(line)) return line.length;
  if (!graphemes) return [...line].length;
  let count = 0;
  for (const _ of graphemes.segment(line)) count++;
  return count;
}

export function countLines(lines) {
  let words = 0;
  let characters = 0;
  for (const line of lines) {
    characters += charactersIn(line);
    const found = line.match(wordPattern);
    if (found) words += found.length;
  }
  return { words, characters };
}

// The counts of an editor document (a tree of text pieces, each holding whole
// lines), kept per piece: an edit makes new pieces only on the path to the
// lines it touched, so counting again after typing reads a handful of pieces,
// not 5 MB. Lines never span two pieces, so the counts add up.
const counted = new WeakMap();

export function countText(text) {
  let known = counted.get(text);
  if (known) return known;
  if (text.children) {
    known = { words: 0, characters: 0 };
    for (const child of text.children) {
      const part = countText(child);
      known.words += part.words;
      known.characters += part.characters;
    }
  } else {
    known = countLines(text.iterLines());
  }
  counted.set(text, known);
  return known;
}
