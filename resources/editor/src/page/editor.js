// The text editor: one CodeMirror view, one editor state per tab (each with
// its own undo history), settings shared by all tabs.

import { EditorState, Compartment, EditorSelection } from "@codemirror/state";
import {
  EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter,
  highlightSpecialChars, drawSelection, dropCursor,
} from "@codemirror/view";
import { history, defaultKeymap, historyKeymap, indentMore, indentLess, undo, redo, selectAll, indentWithTab } from "@codemirror/commands";
import { search, searchKeymap, openSearchPanel, gotoLine, highlightSelectionMatches } from "@codemirror/search";
import { LanguageSupport, syntaxHighlighting, indentOnInput, bracketMatching, indentUnit } from "@codemirror/language";
import { markdownLanguage, markdownKeymap } from "@codemirror/lang-markdown";
import { tagHighlighter, tags } from "@lezer/highlight";

// Classes, not inline colours: the style sheet gives them their light and dark colours.
const markdownClasses = tagHighlighter([
  { tag: tags.heading1, class: "md-heading md-h1" },
  { tag: tags.heading2, class: "md-heading md-h2" },
  { tag: [tags.heading3, tags.heading4, tags.heading5, tags.heading6], class: "md-heading" },
  { tag: tags.strong, class: "md-strong" },
  { tag: tags.emphasis, class: "md-emphasis" },
  { tag: tags.strikethrough, class: "md-strike" },
  { tag: [tags.link, tags.url], class: "md-link" },
  { tag: tags.monospace, class: "md-code" },
  { tag: tags.quote, class: "md-quote" },
  { tag: [tags.processingInstruction, tags.contentSeparator, tags.labelName], class: "md-mark" },
  { tag: tags.meta, class: "md-meta" },
  { tag: tags.comment, class: "md-comment" },
]);

// The start document carries the nonce the program's content policy allows for
// the editor's own style element; an unreplaced placeholder means none.
function styleNonce() {
  const value = document.querySelector('meta[name="quillmarsh-nonce"]')?.content || "";
  return value && !value.startsWith("__") ? value : null;
}

// Wraps each selection in a marker, or takes the marker off where it is already there.
function toggleMarker(marker) {
  return (view) => {
    const { state } = view;
    const size = marker.length;
    view.dispatch(state.changeByRange((range) => {
      const before = state.sliceDoc(range.from - size, range.from);
      const after = state.sliceDoc(range.to, range.to + size);
      if (before === marker && after === marker) {
        return {
          changes: [{ from: range.from - size, to: range.from }, { from: range.to, to: range.to + size }],
          range: EditorSelection.range(range.from - size, range.to - size),
        };
      }
      return {
        changes: [{ from: range.from, insert: marker }, { from: range.to, insert: marker }],
        range: EditorSelection.range(range.from + size, range.to + size),
      };
    }), { userEvent: "input.format", scrollIntoView: true });
    return true;
  };
}

// [text](address): the selected text becomes the link text and the address is selected to be typed over.
function insertLink(view) {
  const { state } = view;
  view.dispatch(state.changeByRange((range) => {
    const text = state.sliceDoc(range.from, range.to);
    const insert = `[${text}](https://)`;
    const addressFrom = range.from + text.length + 3;
    return {
      changes: { from: range.from, to: range.to, insert },
      range: text ? EditorSelection.range(addressFrom, addressFrom + 8) : EditorSelection.cursor(range.from + 1),
    };
  }), { userEvent: "input.format", scrollIntoView: true });
  return true;
}

export const formatCommands = {
  bold: toggleMarker("**"),
  italic: toggleMarker("*"),
  code: toggleMarker("`"),
  link: insertLink,
  indent: indentMore,
  outdent: indentLess,
};

export class Editor {
  constructor(parent, { onChange, onSelection }) {
    this.wrap = new Compartment();
    this.numbers = new Compartment();
    this.theme = new Compartment();
    this.settings = { wrap: true, lineNumbers: false };
    this.dark = window.matchMedia("(prefers-color-scheme: dark)");
    const nonce = styleNonce();
    this.shared = [
      nonce ? EditorView.cspNonce.of(nonce) : [],
      highlightSpecialChars(),
      history(),
      drawSelection(),
      dropCursor(),
      EditorState.allowMultipleSelections.of(true),
      indentOnInput(),
      indentUnit.of("    "),
      bracketMatching(),
      highlightActiveLine(),
      highlightActiveLineGutter(),
      highlightSelectionMatches(),
      new LanguageSupport(markdownLanguage),
      syntaxHighlighting(markdownClasses),
      search({ top: true }),
      keymap.of([
        ...markdownKeymap,
        { key: "Mod-b", run: formatCommands.bold },
        { key: "Mod-i", run: formatCommands.italic },
        { key: "Mod-e", run: formatCommands.code },
        { key: "Mod-k", run: formatCommands.link },
        { key: "Mod-]", run: indentMore },
        { key: "Mod-[", run: indentLess },
        { key: "Mod-l", run: gotoLine },
        ...searchKeymap,
        ...historyKeymap,
        indentWithTab,
        ...defaultKeymap,
      ]),
      EditorView.contentAttributes.of({ "aria-label": "Document text" }),
      EditorView.updateListener.of((update) => {
        if (update.docChanged) onChange(update);
        if (update.docChanged || update.selectionSet) onSelection(update.state);
      }),
    ];
    this.view = new EditorView({ parent, state: this.makeState("") });
    this.dark.addEventListener("change", () => this.applySettings());
  }

  makeState(text) {
    return EditorState.create({
      doc: text,
      extensions: [
        this.shared,
        this.wrap.of(this.settings.wrap ? EditorView.lineWrapping : []),
        this.numbers.of(this.settings.lineNumbers ? lineNumbers() : []),
        this.theme.of(EditorView.darkTheme.of(this.dark.matches)),
      ],
    });
  }

  // A tab's state may have been made under other settings: bring it up to date.
  show(state) {
    this.view.setState(state);
    this.applySettings();
  }

  applySettings() {
    this.view.dispatch({
      effects: [
        this.wrap.reconfigure(this.settings.wrap ? EditorView.lineWrapping : []),
        this.numbers.reconfigure(this.settings.lineNumbers ? lineNumbers() : []),
        this.theme.reconfigure(EditorView.darkTheme.of(this.dark.matches)),
      ],
    });
  }

  set(name, value) {
    this.settings[name] = value;
    this.applySettings();
  }

  // Another text for the shown document (reloaded from disk) as one undoable change.
  replaceText(state, text) {
    const transaction = state.update({
      changes: { from: 0, to: state.doc.length, insert: text },
      selection: EditorSelection.cursor(Math.min(state.selection.main.head, text.length)),
      userEvent: "reload",
    });
    return transaction;
  }

  run(command) {
    const commands = {
      undo, redo, selectAll, indent: indentMore, outdent: indentLess,
      find: openSearchPanel, replace: openSearchPanel, goToLine: gotoLine, ...formatCommands,
    };
    this.view.focus();
    return commands[command](this.view);
  }
}
