// The worker's side of keeping unsaved texts for recovery: a copy of each
// kept tab's text, brought up to date by the page's edits as they happen, so
// that a keep turns megabytes into a request body here, off the page's main
// thread, instead of stalling typing there.

// `send(body)` posts one keep to the program and answers { status, ok, json };
// `Text` and `ChangeSet` are the editor's own (@codemirror/state).
export function makeKeeper(send, { Text, ChangeSet }) {
  const texts = new Map(); // tab id -> Text

  return function handle(message) {
    const { kind, tab } = message;
    if (kind === "seed") {
      texts.set(tab, Text.of(message.text.split("\n")));
      return null;
    }
    if (kind === "changes") {
      const text = texts.get(tab);
      // Changes to a text never seeded here are the page's to resend as a seed.
      if (text) texts.set(tab, ChangeSet.fromJSON(message.changes).apply(text));
      return null;
    }
    if (kind === "drop") {
      texts.delete(tab);
      return null;
    }
    if (kind === "keep") {
      const text = texts.get(tab);
      if (!text || text.length !== message.length) {
        return Promise.resolve({ status: 0, ok: false, json: { error: "the kept copy is out of step" }, stale: true });
      }
      return send(JSON.stringify({ ...message.fields, text: text.toString() }));
    }
    return null;
  };
}
