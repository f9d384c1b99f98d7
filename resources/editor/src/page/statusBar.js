// The status bar: a message, the word and character count, the caret's line:column.
import { $, tabs, views } from "./session.js";
import { countText } from "./counts.js";

export function status(text) {
  $("status-message").textContent = text;
}

let countTimer = 0;
export function scheduleCounts() {
  clearTimeout(countTimer);
  // Once typing pauses, not per key; only the pieces an edit made are counted anew.
  countTimer = setTimeout(() => {
    const tab = tabs.active;
    if (!tab) return void ($("status-counts").textContent = "");
    const { words, characters } = countText(views.editor.view.state.doc);
    $("status-counts").dataset.words = words;
    $("status-counts").dataset.characters = characters;
    $("status-counts").textContent = `${words.toLocaleString()} ${words === 1 ? "word" : "words"}, ${characters.toLocaleString()} ${characters === 1 ? "character" : "characters"}`;
  }, 250);
}

export function showPosition(editorState) {
  if (!tabs.active) return void ($("status-position").textContent = "");
  const head = editorState.selection.main.head;
  const line = editorState.doc.lineAt(head);
  $("status-position").textContent = `${line.number}:${head - line.from + 1}`;
}
