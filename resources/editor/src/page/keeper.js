// The page's side of keeping unsaved texts: the shown tab's edits are gathered
// into one change (a few bytes per key, nothing posted), handed to the keeper
// worker with the next keep, and the worker sends its copy. Its copy is known to match while the editor's text
// is the very object last sent; any other text (a hidden tab replaced from
// disk, say) is sent whole again first, so the copy never drifts.

export class Keeper {
  // `port` is the worker (postMessage, onmessage); `direct(body)` keeps
  // without it, should the worker not be there.
  constructor(port, direct) {
    this.port = port;
    this.direct = direct;
    this.calls = new Map();
    this.nextCall = 1;
    if (port) {
      port.onmessage = (event) => {
        const { call, answer } = event.data;
        const settle = this.calls.get(call);
        this.calls.delete(call);
        if (settle) settle(answer);
      };
      // A worker that failed to start or broke answers nothing: keeps waiting
      // on it, and all later ones, are sent by the page.
      port.onerror = () => this.lost();
    }
  }

  lost() {
    this.port = null;
    for (const settle of this.calls.values()) settle({ stale: true });
    this.calls.clear();
  }

  // The editor showed an update of `tab`'s text.
  changed(tab, update) {
    if (!this.port || !tab.keptText) return;
    if (update.startState.doc === tab.keptText) {
      tab.keptChanges = tab.keptChanges ? tab.keptChanges.compose(update.changes) : update.changes;
      tab.keptText = update.state.doc;
    } else {
      tab.keptText = null;
      tab.keptChanges = null;
    }
  }

  // Keeps `doc` (the tab's text now) with the other fields of the request.
  keep(tab, doc, fields) {
    if (!this.port) return this.direct(JSON.stringify({ ...fields, text: doc.toString() }));
    if (tab.keptText !== doc) {
      this.port.postMessage({ kind: "seed", tab: tab.id, text: doc.toString() });
      tab.keptText = doc;
    } else if (tab.keptChanges) {
      this.port.postMessage({ kind: "changes", tab: tab.id, changes: tab.keptChanges.toJSON() });
    }
    tab.keptChanges = null;
    const call = this.nextCall++;
    const answered = new Promise((settle) => this.calls.set(call, settle));
    this.port.postMessage({ kind: "keep", call, tab: tab.id, length: doc.length, fields });
    return answered.then((answer) => {
      if (!answer.stale) return answer;
      // Out of step after all: sent whole, once.
      tab.keptText = null;
      tab.keptChanges = null;
      return this.direct(JSON.stringify({ ...fields, text: doc.toString() }));
    });
  }

  drop(tab) {
    if (this.port && tab.keptText) this.port.postMessage({ kind: "drop", tab: tab.id });
    tab.keptText = null;
    tab.keptChanges = null;
  }
}
