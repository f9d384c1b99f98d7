// The preview beside (or instead of) the text: rendered by a worker, sanitized
// here, and kept in step with the editor's scrolling both ways. Large documents
// are rendered around the part in view only (the editor's, or the preview's own
// when it is shown alone or was scrolled last), so typing never waits for it.
import { EditorView } from "@codemirror/view";
import { post } from "./api.js";
import { sanitize } from "./sanitize.js";
import { windowAround, needsWindow, lineAtOffset, offsetOfLine } from "./previewLayout.js";
import { collectDefinitions, ordinaryLine } from "./linkDefinitions.js";

// Above this size only the lines around the view are rendered. Rendering the
// whole text after every pause in typing keeps the worker busy for most of the
// time on a 2-core machine (a 290 KB text: ~1 s per render), and the editor's
// own thread then waits for a core; the part around the view renders in tens
// of milliseconds at any size.
const wholeLimit = 64_000;
// Blocks sanitized and put in place before the page may draw and take keys again.
const blocksPerSlice = 30;
// A rendered line's height until one is measured, for the gaps that stand for
// the lines not rendered.
const guessPerLine = 22;
// What a person does to scroll one side: that side then leads and the other
// follows. Scroll events of the side that follows are the echo of our own
// scrolling (or the editor settling its heights) and never scroll back.
const scrollingInput = ["wheel", "pointerdown", "keydown", "touchstart"];
// The preview's contents change only once the person has not scrolled it for
// this long: a change moves it, which would stop a scroll (or its animation) midway.
const scrollPauseMs = 120;

// The block's first element carries the line it starts on, for scrolling in step.
function markLine(block, line) {
  if (block.line === line) return;
  block.line = line;
  const element = block.nodes.find((node) => node.nodeType === Node.ELEMENT_NODE);
  if (element && line !== null) element.setAttribute("data-line", String(line));
}

// The gaps' heights are properties of the preview itself, so that nothing
// inside it carries a style of its own (sanitized blocks never do).
function gap(which) {
  const element = document.createElement("div");
  element.className = `preview-gap ${which}`;
  element.setAttribute("aria-hidden", "true");
  return element;
}

// Whether each change of an edit stays within one line that was and is ordinary
// text, after a line that could not be a definition going on into it.
function keepsDefinitions(update) {
  const before = update.startState.doc;
  const after = update.state.doc;
  let keeps = true;
  update.changes.iterChangedRanges((fromA, toA, fromB, toB) => {
    if (!keeps) return;
    const old = before.lineAt(fromA);
    const now = after.lineAt(fromB);
    const above = now.number > 1 ? after.line(now.number - 1).text : "";
    keeps = old.to >= toA && now.to >= toB && ordinaryLine(old.text) && ordinaryLine(now.text) && !above.trimStart().startsWith("[");
  });
  return keeps;
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
    this.mode = "off"; // "off", "beside" or "only"
    this.blocks = []; // shown: [{ html, nodes }] in order
    this.applying = 0; // the generation of the update under way
    // The side the person last scrolled, clicked or typed in leads; the other follows it.
    this.lead = "editor";
    this.ownScroll = null; // where the preview was last scrolled by program
    this.previewScrolledAt = 0; // when the person last scrolled it
    this.anchor = 1; // the line at the top of the preview
    this.perLine = guessPerLine;
    this.definitions = { doc: null, text: "" };
    this.above = gap("above");
    this.below = gap("below");
    container.replaceChildren(this.above, this.below);
    container.addEventListener("click", (event) => this.clicked(event));
    container.addEventListener("scroll", () => this.previewScrolled(), { passive: true });
    view.scrollDOM.addEventListener("scroll", () => this.editorScrolled(), { passive: true });
    for (const type of scrollingInput) {
      container.addEventListener(type, () => void (this.lead = "preview"), { passive: true, capture: true });
      view.dom.addEventListener(type, () => void (this.lead = this.mode === "only" ? "preview" : "editor"), { passive: true, capture: true });
    }
  }

  get on() {
    return this.mode !== "off";
  }

  // Called before the page shows or hides either side.
  setMode(mode) {
    const was = this.mode;
    if (was === mode) return;
    this.mode = mode;
    if (mode === "only") {
      // Alone, the preview starts where the editor was and then leads.
      if (was === "off" || this.lead === "editor") this.anchor = this.editorTopLine();
      this.lead = "preview";
    } else {
      // The editor comes back at the line read to in the preview.
      if (was === "only") this.moveEditorTo(this.anchor, { reveal: true });
      this.lead = "editor";
    }
    if (this.on) this.schedule(0);
  }

  // After a change: once typing pauses, never on every key.
  schedule(delay = 150) {
    if (!this.on) return;
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.render(), delay);
  }

  // After an edit. A large document's definitions are not looked for again when
  // the edit only changed words within ordinary lines, as typing does.
  changed(update) {
    if (this.definitions.doc === update.startState.doc && keepsDefinitions(update)) this.definitions.doc = update.state.doc;
    this.schedule();
  }

  // A new document in the editor: nothing of the last one's preview may stay.
  reset() {
    this.shown = null;
    this.applying++;
    this.blocks = [];
    this.anchor = 1;
    this.lead = this.mode === "only" ? "preview" : "editor";
    this.definitions = { doc: null, text: "" };
    this.container.replaceChildren(this.above, this.below);
    this.setGaps();
    this.schedule(0);
  }

  large() {
    return this.view.state.doc.length > wholeLimit;
  }

  // The lines in view on the side that leads.
  linesInView() {
    const doc = this.view.state.doc;
    const layout = this.layout();
    if (this.lead === "preview" && layout) {
      const top = this.container.scrollTop;
      return [lineAtOffset(top, layout), lineAtOffset(top + this.container.clientHeight, layout)];
    }
    if (this.mode === "only") return [this.anchor, this.anchor + 80];
    const { from, to } = this.view.viewport;
    return [doc.lineAt(from).number, doc.lineAt(to).number];
  }

  // The whole document's reference definitions, found again only when the text changed.
  definitionsOf(doc) {
    if (this.definitions.doc !== doc) this.definitions = { doc, text: collectDefinitions(doc.iterLines()) };
    return this.definitions.text;
  }

  source() {
    const doc = this.view.state.doc;
    if (!this.large()) return { text: doc.toString(), firstLine: 1, start: 1, end: doc.lines, definitions: "" };
    const [top, bottom] = this.linesInView();
    const { start, end } = windowAround((n) => doc.line(n).text, doc.lines, top, bottom);
    return { text: doc.sliceString(doc.line(start).from, doc.line(end).to), firstLine: start, start, end, definitions: this.definitionsOf(doc) };
  }

  render() {
    if (this.busy) return void (this.again = true);
    const { text, firstLine, start, end, definitions } = this.source();
    this.busy = true;
    this.pending = { start, end, lines: this.view.state.doc.lines };
    this.worker.postMessage({ id: ++this.sent, text, firstLine, definitions });
  }

  received({ id, blocks }) {
    this.busy = false;
    if (id === this.sent && this.on) this.apply(blocks, id, this.pending);
    if (this.again) {
      this.again = false;
      this.render();
    }
  }

  // Keeps the blocks that are the same at the start and at the end, and puts
  // the others in place a slice at a time, letting keys and frames through in
  // between. A newer update stops this one; the list always matches what is shown.
  // shown: the lines the new blocks cover; the preview's map changes to them with the first change.
  async apply(blocks, id, shown) {
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
    const after = old.slice(endOld);
    const anchor = after.find((block) => block.nodes.length)?.nodes[0] || this.below;
    const added = [];
    if (!(await this.scrollingPaused(generation))) return;
    this.keepPlace(() => {
      this.shown = shown;
      // Lines move when lines are added above (or the rendered part starts
      // elsewhere): kept blocks take their new ones.
      old.slice(0, start).forEach((block, k) => markLine(block, blocks[k].line));
      after.forEach((block, k) => markLine(block, blocks[endNew + k].line));
      for (const block of old.slice(start, endOld)) for (const node of block.nodes) node.remove();
      this.blocks = [...old.slice(0, start), ...after];
      this.setGaps();
    });
    for (let k = start; k < endNew; k += blocksPerSlice) {
      if (k > start) {
        await new Promise((resume) => setTimeout(resume, 0));
        if (generation !== this.applying || !(await this.scrollingPaused(generation))) return;
      }
      const fragments = blocks.slice(k, Math.min(endNew, k + blocksPerSlice)).map(({ html, line }) => {
        const fragment = sanitize(html);
        const block = { html, nodes: [...fragment.childNodes], line: null };
        markLine(block, line);
        added.push(block);
        return fragment;
      });
      this.keepPlace(() => {
        for (const fragment of fragments) this.container.insertBefore(fragment, anchor);
        this.blocks = [...old.slice(0, start), ...added, ...after];
      });
    }
    if (!(await this.scrollingPaused(generation))) return;
    this.keepPlace(() => this.measure());
    this.container.dataset.rendered = String(id);
  }

  // The gaps stand for the lines above and below the rendered part.
  setGaps() {
    const shown = this.shown;
    this.container.style.setProperty("--above", shown ? `${Math.round((shown.start - 1) * this.perLine)}px` : "0px");
    this.container.style.setProperty("--below", shown ? `${Math.round((shown.lines - shown.end) * this.perLine)}px` : "0px");
  }

  // A rendered line's height, from a part large enough to say.
  measure() {
    const shown = this.shown;
    if (!shown || shown.start === 1 && shown.end === shown.lines) return;
    const height = this.below.offsetTop - (this.above.offsetTop + this.above.offsetHeight);
    const count = shown.end - shown.start + 1;
    if (count >= 50 && height > 0) this.perLine = Math.min(200, Math.max(8, height / count));
    this.setGaps();
  }

  layout() {
    const shown = this.shown;
    if (!shown) return null;
    return {
      lines: shown.lines,
      start: shown.start,
      end: shown.end,
      perLine: this.perLine,
      renderedTop: this.above.offsetTop + this.above.offsetHeight,
      renderedBottom: this.below.offsetTop,
      marks: [...this.container.querySelectorAll(":scope > [data-line]")].map((element) => ({
        line: Number(element.dataset.line), top: element.offsetTop,
      })),
    };
  }

  // The editor's top line, with the share of it scrolled past.
  editorTopLine() {
    const scrollTop = this.view.scrollDOM.scrollTop;
    const block = this.view.lineBlockAtHeight(scrollTop);
    const share = block.height > 0 ? Math.max(0, Math.min(1, (scrollTop - block.top) / block.height)) : 0;
    return this.view.state.doc.lineAt(block.from).number + share;
  }

  scrollSide(element, top) {
    top = Math.max(0, Math.round(top));
    if (Math.abs(element.scrollTop - top) >= 1) element.scrollTop = top;
  }

  moveEditorTo(line, { reveal = false } = {}) {
    const doc = this.view.state.doc;
    const number = Math.max(1, Math.min(doc.lines, Math.floor(line)));
    if (reveal) {
      // The editor is being shown again: once it is drawn, it places the line
      // itself, and its scrolling then leads the preview as the person's would.
      const at = doc.line(number).from;
      return void requestAnimationFrame(() => {
        if (this.view.state.doc !== doc) return;
        this.view.dispatch({ effects: EditorView.scrollIntoView(at, { y: "start" }) });
        // The preview follows once the editor has scrolled (a hidden editor may send no scroll event).
        requestAnimationFrame(() => this.editorScrolled());
      });
    }
    const block = this.view.lineBlockAt(doc.line(number).from);
    this.scrollSide(this.view.scrollDOM, block.top + (line - number) * block.height);
  }

  // Waits while the person scrolls the preview; false when a newer update took over meanwhile.
  async scrollingPaused(generation) {
    while (this.lead === "preview" && performance.now() - this.previewScrolledAt < scrollPauseMs) {
      await new Promise((resume) => setTimeout(resume, scrollPauseMs / 3));
      if (generation !== this.applying) return false;
    }
    return generation === this.applying;
  }

  // Changes the preview's contents and keeps its place: when the preview leads,
  // the line at its top is read just before (the person may have scrolled since
  // the last scroll event) and put back at the top after.
  keepPlace(change) {
    const box = this.container;
    const layout = this.lead === "preview" ? this.layout() : null;
    if (layout) this.anchor = lineAtOffset(box.scrollTop, layout);
    // Scrolled to the very end, the person stays at the end as the end comes into view.
    const atEnd = !!layout && box.scrollTop > 0 && box.scrollTop + box.clientHeight >= box.scrollHeight - 2;
    change();
    if (atEnd) this.scrollPreview(box.scrollHeight);
    else this.settle();
  }

  // Scrolls the preview by program: its scroll event there is this echo, not the person's.
  scrollPreview(top) {
    const box = this.container;
    top = Math.max(0, Math.min(box.scrollHeight - box.clientHeight, Math.round(top)));
    if (Math.abs(box.scrollTop - top) < 1) return;
    box.scrollTop = top;
    this.ownScroll = box.scrollTop;
  }

  // Puts the lead's top line at the top of the preview.
  settle() {
    const layout = this.layout();
    if (!layout) return;
    if (this.lead === "editor") this.anchor = this.editorTopLine();
    this.scrollPreview(offsetOfLine(this.anchor, layout) - (this.lead === "editor" ? 8 : 0));
  }

  // A large document's preview covers only part of it: near its edge, render the next part.
  renderIfNear(top, bottom) {
    // While the person scrolls the preview, once they pause: a new part moves what they see.
    if (this.large() && needsWindow(this.shown, top, bottom, this.view.state.doc.lines)) this.schedule(this.lead === "preview" ? 150 : 60);
  }

  editorScrolled() {
    if (!this.on || this.lead !== "editor") return;
    const { from, to } = this.view.viewport;
    const doc = this.view.state.doc;
    this.renderIfNear(doc.lineAt(from).number, doc.lineAt(to).number);
    this.settle();
  }

  previewScrolled() {
    if (!this.on || this.lead !== "preview") return;
    const own = this.ownScroll;
    this.ownScroll = null;
    if (own !== null && Math.abs(this.container.scrollTop - own) <= 1) return;
    this.previewScrolledAt = performance.now();
    const layout = this.layout();
    if (!layout) return;
    const top = this.container.scrollTop;
    this.anchor = lineAtOffset(top, layout);
    if (this.mode !== "only") this.moveEditorTo(this.anchor);
    this.renderIfNear(this.anchor, lineAtOffset(top + this.container.clientHeight, layout));
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
