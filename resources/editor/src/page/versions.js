// Deciding what to do once the program says which version of each open
// document lies on disk now.

// The request body of POST /api/versions: one item per tab that has been read
// from or saved to disk (a new document has nothing to compare).
export function versionItems(tabs) {
  return tabs
    .filter((tab) => tab.version && tab.version !== "new" && (tab.path || tab.file))
    .map((tab) => (tab.file ? { key: String(tab.id), file: tab.file } : { key: String(tab.id), path: tab.path }));
}

// One decision per tab that needs something:
//   reload   - the tab has no edits and its file changed: take the new text quietly
//   conflict - the tab has edits and its file changed: tell the person
//   missing  - the file is gone: mark the tab
//   back     - a file marked gone is there again, unchanged
// A file that could not be read this time is left alone; the next check tells.
export function versionActions(tabs, versions) {
  const actions = [];
  for (const tab of tabs) {
    const now = versions[String(tab.id)];
    if (typeof now !== "string" || now === "unreadable") continue;
    if (now === "missing") {
      if (!tab.missing) actions.push({ id: tab.id, action: "missing" });
      continue;
    }
    if (now === tab.version) {
      if (tab.missing) actions.push({ id: tab.id, action: "back" });
      continue;
    }
    if (!tab.dirty) {
      actions.push({ id: tab.id, action: "reload", version: now });
    } else if (tab.toldVersion !== now) {
      // Told once per version: the notice does not come back on every return to the window.
      actions.push({ id: tab.id, action: "conflict", version: now });
    }
  }
  return actions;
}

// A refused save: the program may say the version in the way is one of its own
// earlier saves whose answer the page never saw; that one is ours to replace.
export function saveRefusal(status, answer) {
  if (status !== 409) return { action: "error" };
  if (answer && answer.byThisApp === true) return { action: "overwrite" };
  return { action: "ask" };
}
