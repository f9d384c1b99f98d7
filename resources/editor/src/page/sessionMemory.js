// The work comes back as it was left: the open tabs, the active one and each
// tab's selection and scroll place are told to the program whenever they
// change (once changes pause), and at launch the `startup` setting decides
// whether they are reopened.
import { state, tabs, views } from "./session.js";
import { api, problem } from "./api.js";
import { EditorSelection } from "@codemirror/state";
import { EditorView } from "@codemirror/view";
import { ask } from "./dialogs.js";
import { el } from "./dom.js";
import { PauseTimer } from "./pauseTimer.js";
import { sessionBody, fitView } from "./rememberRules.js";
import { status } from "./statusBar.js";
import { pageNotice } from "./notices.js";
import { showTab } from "./tabStrip.js";
import { openDocument } from "./documents.js";
import { refreshTree, folderNowOpen } from "./folder.js";

export const sessionPause = 1000;

// A tab's scroll place is the document position of the line at the top of
// the editor, not pixels: line heights are only estimated until drawn, and
// the window may be another size at the next start.
function topLine(view) {
  const edge = view.scrollDOM.getBoundingClientRect().top;
  return view.lineBlockAtHeight(Math.max(0, edge - view.documentTop)).from;
}

function viewOf(tab) {
  const shown = tab === views.shownTab;
  const selection = (shown ? views.editor.view.state : tab.state).selection.main;
  const top = shown ? topLine(views.editor.view) : tab.top || 0;
  return { anchor: selection.anchor, head: selection.head, top };
}

let ready = false; // nothing is told before the last session was read
let held = false; // quitting closes tabs one by one: the session is what was open before
let lastSent = "";

async function post() {
  if (!ready || held) return;
  const body = JSON.stringify(sessionBody(tabs.list, tabs.activeId, state.folder, viewOf));
  if (body === lastSent) return;
  lastSent = body;
  const answer = await api("POST", "/api/session", { body });
  if (!answer.ok) {
    lastSent = "";
    status(`The open documents could not be remembered: ${problem(answer)}`);
  }
}

const timer = new PauseTimer({ pause: sessionPause, most: 5 * sessionPause, run: post });

export function sessionChanged() {
  if (ready && !held) timer.changed("session");
}

// Quit: tell what is open now, then keep it while the tabs close.
export async function holdSession() {
  timer.cancel("session");
  await post();
  held = true;
}

// Quit was cancelled: changes count again.
export function releaseSession() {
  held = false;
  sessionChanged();
}

// Scrolling changes the session (the shown tab's place is read when it is told).
export function watchScrolling() {
  views.editor.view.scrollDOM.addEventListener("scroll", sessionChanged, { passive: true });
}

// The place of a tab about to be hidden, read while the editor still shows
// it as drawn (a scroll event may come only after the next tab is shown).
export function rememberScrollOf(tab) {
  tab.top = topLine(views.editor.view);
}

// A tab shown again goes back to where it was scrolled (CodeMirror keeps the
// scroll place of the view, not of each state).
export function showScrollOf(tab) {
  const view = views.editor.view;
  const top = Math.min(tab.top || 0, view.state.doc.length);
  view.dispatch({ effects: EditorView.scrollIntoView(top, { y: "start", yMargin: 0 }) });
}

export async function restoreSession() {
  const answer = await api("POST", "/api/session/restore");
  if (!answer.ok) return status(`The last session could not be reopened: ${problem(answer)}`);
  const last = answer.json;
  if (last.folder) {
    folderNowOpen(last.folder);
    await refreshTree();
  }
  const opened = [];
  for (const [index, entry] of (last.tabs || []).entries()) {
    const where = entry.path ? { path: entry.path } : { file: entry.file };
    await openDocument(where, entry);
    const tab = tabs.find(entry.path ? { path: entry.path, folder: state.folder } : { file: entry.file, location: entry.location });
    if (tab) opened.push([tab, (last.views || [])[index]]);
  }
  if (opened.length) {
    // Each tab takes its view while it is not shown; then the active one is shown.
    if (views.shownTab) views.shownTab.state = views.editor.view.state;
    for (const [tab, remembered] of opened) {
      const { anchor, head, top } = fitView(remembered, tab.state.doc.length);
      tab.state = tab.state.update({ selection: EditorSelection.single(anchor, head) }).state;
      tab.top = top;
    }
    views.shownTab = null;
    const active = (opened[last.active] || opened[0])[0];
    showTab(active);
  }
  if (last.missing && last.missing.length) {
    const names = last.missing.map((path) => path.split("/").pop());
    pageNotice(`${names.length === 1 ? "A document" : `${names.length} documents`} of the last session could not be found: ${names.join(", ")}`);
  }
}

async function askToReopen() {
  const last = await api("GET", "/api/session");
  if (!last.ok || !last.json || !last.json.exists) return;
  const names = (last.json.tabs || []).map((tab) => tab.name + (tab.missing ? " (missing)" : ""));
  const choice = await ask({
    title: "Reopen the documents of the last session?",
    body: el("ul", { className: "session-list" }, names.slice(0, 12).map((name) => el("li", { text: name }))),
    choices: [
      { label: "Start Empty", value: "empty", cancel: true },
      { label: "Reopen", value: "reopen", default: true },
    ],
  });
  if (choice === "reopen") await restoreSession();
}

// At launch, before documents given to the program are opened.
export async function startSession(startup) {
  try {
    if (startup === "reopen") await restoreSession();
    else if (startup === "ask") await askToReopen();
  } finally {
    ready = true;
  }
}
