// The decisions behind recovery, the session and auto-save, apart from the
// page so that they can be tried alone.

// Recovery ids the program accepts: 6 to 40 of [A-Za-z0-9_-]. Random, so that
// a tab of this launch never takes over an entry an earlier launch left.
export function newRecoveryId(random = (bytes) => crypto.getRandomValues(bytes)) {
  const bytes = random(new Uint8Array(12));
  return "r" + [...bytes].map((byte) => byte.toString(16).padStart(2, "0")).join("");
}

// Whether the program can find a tab's document again: a path names a file
// only while the folder it was opened in is still the open one.
function findable(tab, folderOpen) {
  return !!tab.file || (!!tab.path && tab.folder === folderOpen);
}

// What the program is told about a tab's kept text and its document (none for
// an untitled tab, or one whose folder is no longer open: kept as untitled).
export function keepBody(tab, text, folderOpen) {
  const body = { id: tab.recoveryId, text, name: tab.name, base: tab.version && tab.version !== "new" ? tab.version : "" };
  if (tab.file) body.file = tab.file;
  else if (findable(tab, folderOpen)) body.path = tab.path;
  return body;
}

// The body of POST /api/session: the tabs the program can find again, the
// active one's index among them, and each one's view.
export function sessionBody(list, activeId, folderOpen, viewOf) {
  const kept = list.filter((tab) => findable(tab, folderOpen));
  return {
    tabs: kept.map((tab) => (tab.file ? { file: tab.file } : { path: tab.path })),
    active: Math.max(0, kept.findIndex((tab) => tab.id === activeId)),
    views: kept.map((tab) => {
      const { anchor, head, top } = viewOf(tab);
      return { anchor, head, top: Math.max(0, Math.round(top)) };
    }),
  };
}

// A remembered view (selection ends and the position of the top line, all
// document positions), fitted to the text the document holds now.
export function fitView(view, length) {
  const clamp = (value) => (Number.isInteger(value) ? Math.min(Math.max(0, value), length) : 0);
  return { anchor: clamp(view && view.anchor), head: clamp(view && view.head), top: clamp(view && view.top) };
}

export const autosaveDelays = [1.5, 3, 5, 10];

// Seconds of the setting, the default for anything the program would not store.
export function delayOf(setting) {
  return autosaveDelays.includes(setting) ? setting : 1.5;
}

// Whether a tab may save itself now, whatever its rule says: a document with
// a place on disk and edits, not waiting for the person to settle a change
// made elsewhere, and not deleted elsewhere (saving would bring it back).
export function mayAutosave(tab, folderOpen) {
  return !!tab && findable(tab, folderOpen) && !!tab.dirty && !tab.missing &&
    !(tab.notice && tab.notice.kind === "conflict");
}
