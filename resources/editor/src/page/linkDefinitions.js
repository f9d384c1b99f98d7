// The link reference definitions ("[label]: url") of a whole document, found
// cheaply line by line, so that a preview of only part of a large document
// still resolves references whose definitions lie elsewhere. Lines inside
// fenced code and lines that continue a paragraph are not definitions.

const definition = /^ {0,3}\[(?:[^\]\\]|\\.)+\]:/;
const fence = /^ {0,3}(`{3,}|~{3,})/;
const opensBlock = /^ {0,3}(#{1,6}(\s|$)|>|[-*_](\s*[-*_]){2,}\s*$)/;
const continues = /^\s*(\S+\s*$|["'(])/;

// Where a line's text starts after its indent; the length for a blank line.
function indentOf(line) {
  let at = 0;
  while (at < line.length && (line.charCodeAt(at) === 32 || line.charCodeAt(at) === 9)) at++;
  return at;
}

// lines: any iterable of the document's lines. Returns the definitions as
// Markdown text, each standing alone, in the document's order (the first of
// two definitions of one label wins, as in the whole document). Most lines are
// settled by their first character, without a pattern.
export function collectDefinitions(lines) {
  const found = [];
  let inFence = null;
  let paragraph = false; // the line before continues a paragraph
  let open = false; // the last definition may go on in the next line (its destination or title)
  for (const line of lines) {
    const at = indentOf(line);
    const first = line[at];
    if (inFence) {
      if (first === inFence[0]) {
        const close = fence.exec(line);
        if (close && close[1][0] === inFence[0] && close[1].length >= inFence.length && line.slice(close[0].length).trim() === "") inFence = null;
      }
      continue;
    }
    if (at === line.length) {
      paragraph = open = false;
      continue;
    }
    if ((first === "`" || first === "~") && fence.test(line)) {
      inFence = fence.exec(line)[1];
      paragraph = open = false;
      continue;
    }
    if (first === "[" && !paragraph && definition.test(line)) {
      found.push(line);
      open = true;
      continue;
    }
    if (open && continues.test(line) && !opensBlock.test(line)) {
      found[found.length - 1] += "\n" + line;
      open = false;
      continue;
    }
    open = false;
    paragraph = !("#>-*_".includes(first) && opensBlock.test(line));
  }
  return found.join("\n\n");
}

// Whether a line's edit leaves the definitions as they were: it was and stays
// ordinary text, neither blank nor able to start a definition, a fence or a
// block that ends a paragraph. Typing in a paragraph is such an edit.
export function ordinaryLine(line) {
  const at = indentOf(line);
  return at < line.length && !"[`~#>-*_".includes(line[at]);
}
