// Renders Markdown to HTML off the page's main thread. The HTML is not safe
// yet: the page sanitizes it before it goes anywhere near the document.
import MarkdownIt from "markdown-it";

const md = new MarkdownIt({ html: true, linkify: true, typographer: false });
// "www.example.org" is a link too, as people write it.
md.linkify.set({ fuzzyLink: true });

// Every block remembers the line of the text it came from, so the preview can
// follow the editor's scrolling. firstLine: the text's first line in the document.
md.core.ruler.push("source_lines", (state) => {
  for (const token of state.tokens) {
    if (token.map && token.block && token.nesting !== -1) token.attrSet("data-line", String(token.map[0] + state.env.firstLine));
  }
});

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

self.onmessage = (event) => {
  const { id, text, firstLine } = event.data;
  let html;
  try {
    html = md.render(text, { firstLine });
  } catch (error) {
    html = `<p>The preview could not be made: ${md.utils.escapeHtml(String(error))}</p>`;
  }
  self.postMessage({ id, html });
};
