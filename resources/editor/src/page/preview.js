// The preview beside (or instead of) the text: rendered by a worker, sanitized
// here, and kept in step with the editor's scrolling. Large documents are
// rendered around the part in view only, so typing never waits for it.
import DOMPurify from "dompurify";
import { post } from "./api.js";

// Above this size only the lines around the view are rendered: the worker
// would take seconds over the whole text.
const wholeLimit = 300_000;
// Blocks sanitized and put in place before the page may draw and take keys again.
const blocksPerSlice = 30;
// Lines rendered beyond the view on either side, in windowed mode.
const margin = 150;

const purify = DOMPurify(window);
purify.addHook("afterSanitizeAttributes", (node) => {
  // Pictures from elsewhere would tell someone the document was opened; data pictures stay.
  if (node.tagName === "IMG") {
    const source = node.getAttribute("src") || "";
    if (!/^data:image\//i.test(source)) {
      node.removeAttribute("src");
      node.classList.add("picture-left-out");
      node.setAttribute("title", `Picture not shown: ${source}`);
    }
    node.removeAttribute("srcset");
  }
});
const sanitizeOptions = {
  FORBID_TAGS: ["style", "form", "iframe", "frame", "object", "embed", "link", "meta", "base", "audio", "video", "source", "picture"],
  FORBID_ATTR: ["style", "srcset", "action", "formaction", "background"],
  RETURN_DOM_FRAGMENT: true,
};

export function sanitize(html) {
  return purify.sanitize(html, sanitizeOptions);
}

// The start and end lines to render for a view showing lines top..bottom,
// widened to blank lines so that no paragraph or list is cut in two.
function windowAround(doc, top, bottom) {
  let start = Math.max(1, top - margin);
  while (start > 1 && doc.line(start - 1).text.trim() !== "" && top - start < margin * 2) start--;
  let end = Math.min(doc.lines, bottom + margin);
  while (end < doc.lines && doc.line(end).text.trim() !== "" && end - bottom < margin * 2) end++;
  return { start, end };
}

// The block's first element carries the line it starts on, for scrolling in step.
function markLine(block, line) {
  if (block.line === line) return;
  block.line = line;
  const element = block.nodes.find((node) => node.nodeType === Node.ELEMENT_NODE);
  if (element && line !== null) element.setAttribute("data-line", String(line));
}

export class Preview {
  constructor(container, view, { openLink }) {
    this.container = container;
    this.view = view;
    this.openLink = openLink;
    this.worker = new Worker("/web/preview-worker.js");
    this.worker.onmessage = (event) => this.received(event.data);
    this.sent = 0;
    this.busy = false;
    this.again = false;
    this.timer = 0;
    this.shown = null; // the lines the shown preview covers
    this.on = false;
    this.blocks = []; // shown: [{ html, nodes }] in order
    this.applying = 0; // the generation of the update under way
    container.addEventListener("click", (event) => this.clicked(event));
    view.scrollDOM.addEventListener("scroll", () => this.scrolled(), { passive: true });
  }

  setOn(on) {
    this.on = on;
    if (on) this.schedule(0);
  }

  // After a change: once typing pauses, never on every key.
  schedule(delay = 150) {
    if (!this.on) return;
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.render(), delay);
  }

  // A new document in the editor: nothing of the last one's preview may stay.
  reset() {
    this.shown = null;
    this.applying++;
    this.blocks = [];
    this.container.replaceChildren();
    this.schedule(0);
  }

  source() {
    const doc = this.view.state.doc;
    if (doc.length <= wholeLimit) return { text: doc.toString(), firstLine: 1, start: 1, end: doc.lines };
    const { from, to } = this.view.viewport;
    const { start, end } = windowAround(doc, doc.lineAt(from).number, doc.lineAt(to).number);
    return { text: doc.sliceString(doc.line(start).from, doc.line(end).to), firstLine: start, start, end };
  }

  render() {
    if (this.busy) return void (this.again = true);
    const { text, firstLine, start, end } = this.source();
    this.busy = true;
    this.pending = { start, end };
    this.worker.postMessage({ id: ++this.sent, text, firstLine });
  }

  received({ id, blocks }) {
    this.busy = false;
    if (id === this.sent && this.on) {
      this.shown = this.pending;
      this.apply(blocks, id);
    }
    if (this.again) {
      this.again = false;
      this.render();
    }
  }

  // Keeps the blocks that are the same at the start and at the end, and puts
  // the others in place a slice at a time, letting keys and frames through in
  // between. A newer update stops this one; the list always matches what is shown.
  async apply(blocks, id) {
    const generation = ++this.applying;
    const old = this.blocks;
    let start = 0;
    while (start < old.length && start < blocks.length && old[start].html === blocks[start].html) start++;
    let endOld = old.length;
    let endNew = blocks.length;
    while (endOld > start && endNew > start && old[endOld - 1].html === blocks[endNew - 1].html) {
      endOld--;
      endNew--;
    }
    for (const block of old.slice(start, endOld)) for (const node of block.nodes) node.remove();
    const after = old.slice(endOld);
    // Lines move when lines are added above: kept blocks take their new ones.
    after.forEach((block, k) => markLine(block, blocks[endNew + k].line));
    const anchor = after.find((block) => block.nodes.length)?.nodes[0] || null;
    const added = [];
    this.blocks = [...old.slice(0, start), ...after];
    for (let k = start; k < endNew; k += blocksPerSlice) {
      if (k > start) {
        await new Promise((resume) => setTimeout(resume, 0));
        if (generation !== this.applying) return;
      }
      for (const { html, line } of blocks.slice(k, Math.min(endNew, k + blocksPerSlice))) {
        const fragment = sanitize(html);
        const block = { html, nodes: [...fragment.childNodes], line: null };
        markLine(block, line);
        this.container.insertBefore(fragment, anchor);
        added.push(block);
      }
      this.blocks = [...old.slice(0, start), ...added, ...after];
      this.follow();
    }
    this.container.dataset.rendered = String(id);
    this.follow();
  }

  topLine() {
    const block = this.view.lineBlockAtHeight(this.view.scrollDOM.scrollTop);
    return this.view.state.doc.lineAt(block.from).number;
  }

  scrolled() {
    if (!this.on) return;
    const line = this.topLine();
    // A large document's preview covers only part of it: scrolled out of it, render anew.
    if (this.shown && (line < this.shown.start || line > this.shown.end - 20) && this.view.state.doc.length > wholeLimit) {
      this.schedule(60);
    }
    this.follow();
  }

  // Puts the block of the editor's top line at the top of the preview, in proportion within it.
  follow() {
    const blocks = this.container.querySelectorAll("[data-line]");
    if (!blocks.length) return;
    const line = this.topLine();
    let before = null;
    let after = null;
    for (const block of blocks) {
      const at = Number(block.dataset.line);
      if (at <= line) before = { at, block };
      else {
        after = { at, block };
        break;
      }
    }
    if (!before) return void (this.container.scrollTop = 0);
    const top = before.block.offsetTop;
    const next = after ? after.block.offsetTop : top + before.block.offsetHeight;
    const share = after ? (line - before.at) / (after.at - before.at) : 0;
    this.container.scrollTop = top + (next - top) * share - 8;
  }

  clicked(event) {
    const link = event.target.closest("a[href]");
    if (!link) return;
    // The preview never navigates the page: web links go to the browser, others to the editor.
    event.preventDefault();
    const href = link.getAttribute("href");
    if (/^(https?|mailto):/i.test(href)) return post({ open: href });
    if (href.startsWith("#")) {
      const target = this.container.querySelector(`[id="${CSS.escape(decodeURIComponent(href.slice(1)))}"]`);
      return target && target.scrollIntoView();
    }
    this.openLink(href);
  }
}
