// The floor for the page's work per key: CodeMirror's editor view with nothing
// but the document (no language, history, keymaps or listeners), opened the way
// the program hands documents to a page: POST /api/opened, then GET /api/file.
import { EditorState } from "@codemirror/state";
import { EditorView } from "@codemirror/view";

const token = document.querySelector('meta[name="quillmarsh-token"]').content;
const nonce = document.querySelector('meta[name="quillmarsh-nonce"]').content;
const headers = { "X-Quillmarsh-Token": token };

async function firstHandedOver() {
  const opened = await (await fetch("/api/opened", { method: "POST", headers })).json();
  const entry = (opened.files || [])[0];
  if (!entry) throw new Error("no document was handed to the program");
  const query = entry.path ? `path=${encodeURIComponent(entry.path)}` : `file=${encodeURIComponent(entry.file)}`;
  const answer = await fetch(`/api/file?${query}`, { headers });
  if (!answer.ok) throw new Error(`the document could not be read (${answer.status})`);
  return new TextDecoder("utf-8").decode(await answer.arrayBuffer());
}

const text = await firstHandedOver();
const view = new EditorView({
  parent: document.getElementById("editor"),
  // The program's content policy lets the editor's style element through by this nonce only.
  state: EditorState.create({ doc: text, extensions: [EditorView.cspNonce.of(nonce)] }),
});
view.focus();
