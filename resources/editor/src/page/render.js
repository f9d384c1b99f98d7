// Markdown to HTML blocks for the preview. The markdown-it constructor is
// passed in, so this file imports nothing and its tests can bring their own.

export function makeRenderer(MarkdownIt) {
  const md = new MarkdownIt({ html: true, linkify: true, typographer: false });
  // "www.example.org" is a link too, as people write it.
  md.linkify.set({ fuzzyLink: true });

  // Task lists: "- [ ] to do" and "- [x] done" become boxes that show, not edit.
  md.core.ruler.after("inline", "task_lists", (state) => {
    const tokens = state.tokens;
    for (let k = 2; k < tokens.length; k++) {
      const inline = tokens[k];
      if (inline.type !== "inline" || tokens[k - 1].type !== "paragraph_open" || tokens[k - 2].type !== "list_item_open") continue;
      const first = inline.children[0];
      const box = first && first.type === "text" && /^\[([ xX])\] /.exec(first.content);
      if (!box) continue;
      first.content = first.content.slice(4);
      const input = new state.Token("html_inline", "", 0);
      input.content = `<input type="checkbox" disabled${box[1] === " " ? "" : " checked"}> `;
      inline.children.unshift(input);
      tokens[k - 2].attrJoin("class", "task-item");
    }
  });
  return md;
}

// The text as a list of top-level blocks (a heading, a paragraph, a whole
// list...), each rendered on its own with the line it starts on, so the page
// can keep the blocks that did not change, sanitize only the others, and
// follow the editor's scrolling. firstLine: the text's first line in the document.
// definitions: the whole document's link reference definitions (linkDefinitions.js),
// for a text that is only part of it; read first, so the first one of a label wins.
export function renderBlocks(md, text, firstLine, definitions = "") {
  const env = {};
  if (definitions) md.parse(definitions, env);
  const tokens = md.parse(text, env);
  const blocks = [];
  let start = 0;
  let depth = 0;
  tokens.forEach((token, k) => {
    depth += token.nesting;
    if (depth === 0) {
      const map = tokens[start].map;
      blocks.push({ html: md.renderer.render(tokens.slice(start, k + 1), md.options, env), line: map ? map[0] + firstLine : null });
      start = k + 1;
    }
  });
  return blocks;
}
