// The open documents and which one is shown. Pure bookkeeping: what a tab
// holds beyond its identity (editor state, notices) is the caller's.

// Two ways of naming the same document must find the same tab: a path inside
// the folder (the same path in another folder is another document), a handle
// from a panel, or the absolute place the program named.
export function sameDocument(tab, probe) {
  if (probe.path && tab.path === probe.path && tab.folder === probe.folder) return true;
  if (probe.file && tab.file === probe.file) return true;
  return !!probe.location && tab.location === probe.location;
}

export class Tabs {
  constructor() {
    this.list = [];
    this.activeId = null;
    this.nextId = 1;
  }

  get active() {
    return this.list.find((tab) => tab.id === this.activeId) || null;
  }

  byId(id) {
    return this.list.find((tab) => tab.id === id) || null;
  }

  find(probe) {
    return this.list.find((tab) => sameDocument(tab, probe)) || null;
  }

  // Opens a tab right of the shown one and shows it.
  add(fields) {
    const tab = { id: this.nextId++, dirty: false, missing: false, notice: null, ...fields };
    const at = this.list.findIndex((each) => each.id === this.activeId);
    this.list.splice(at < 0 ? this.list.length : at + 1, 0, tab);
    this.activeId = tab.id;
    return tab;
  }

  activate(id) {
    if (this.byId(id)) this.activeId = id;
    return this.active;
  }

  // Removes a tab; when it was shown, its right neighbour (else its left) is shown next.
  remove(id) {
    const at = this.list.findIndex((tab) => tab.id === id);
    if (at < 0) return this.active;
    this.list.splice(at, 1);
    if (this.activeId === id) {
      const next = this.list[Math.min(at, this.list.length - 1)];
      this.activeId = next ? next.id : null;
    }
    return this.active;
  }

  // The tab Ctrl+Tab (1) or Ctrl+Shift+Tab (-1) goes to, round the ends.
  neighbour(step) {
    if (this.list.length === 0) return null;
    const at = Math.max(0, this.list.findIndex((tab) => tab.id === this.activeId));
    return this.list[(at + step + this.list.length * 2) % this.list.length];
  }

  cycle(step) {
    const next = this.neighbour(step);
    if (next) this.activeId = next.id;
    return next;
  }

  unsaved() {
    return this.list.filter((tab) => tab.dirty);
  }
}
