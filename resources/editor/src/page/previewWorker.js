// Renders Markdown to HTML off the page's main thread. The HTML is not safe
// yet: the page sanitizes it before it goes anywhere near the document.
import MarkdownIt from "markdown-it";
import { makeRenderer, renderBlocks } from "./render.js";

const md = makeRenderer(MarkdownIt);

self.onmessage = (event) => {
  const { id, text, firstLine, definitions } = event.data;
  let blocks;
  try {
    blocks = renderBlocks(md, text, firstLine, definitions);
  } catch (error) {
    blocks = [{ html: `<p>The preview could not be made: ${md.utils.escapeHtml(String(error))}</p>`, line: null }];
  }
  self.postMessage({ id, blocks });
};
