// The keeper of unsaved texts: the page's side and the worker's, joined by a
// port that clones every message as a worker's would.
import { test } from "node:test";
import assert from "node:assert/strict";
import path from "node:path";
import { createRequire } from "node:module";
import { pathToFileURL } from "node:url";
import { Keeper } from "../../../resources/editor/src/page/keeper.js";
import { makeKeeper } from "../../../resources/editor/src/page/keeperCore.js";

const modules = process.env.QUILLMARSH_PAGE_MODULES;
const resolve = createRequire(path.join(modules, "resolve-from-here.js")).resolve;
const { EditorState, Text, ChangeSet } = await import(pathToFileURL(resolve("@codemirror/state")).href);

function joined() {
  const sent = []; // { how: "worker" | "direct", text }
  const messages = [];
  const handle = makeKeeper(async (body) => {
    sent.push({ how: "worker", text: JSON.parse(body).text, body: JSON.parse(body) });
    return { status: 200, ok: true, json: { kept: true } };
  }, { Text, ChangeSet });
  const port = {
    onmessage: null,
    postMessage(message) {
      const copy = structuredClone(message);
      messages.push(copy);
      const answer = handle(copy);
      if (copy.kind === "keep") answer.then((result) => port.onmessage({ data: { call: copy.call, answer: result } }));
    },
  };
  const keeper = new Keeper(port, async (body) => {
    sent.push({ how: "direct", text: JSON.parse(body).text });
    return { status: 200, ok: true, json: { kept: true } };
  });
  return { keeper, port, sent, messages };
}

// What the editor's update listener hands over for one transaction.
function edit(state, changes) {
  const transaction = state.update({ changes });
  return { startState: state, state: transaction.state, changes: transaction.changes };
}

test("the worker keeps what the editor shows: after edits, after a text replaced unseen, after a drop", async () => {
  const { keeper, port, sent, messages } = joined();
  const tab = { id: "t1" };
  let state = EditorState.create({ doc: Array.from({ length: 3000 }, (_, k) => `line ${k} caf\u00e9`).join("\n") });
  const seeds = () => messages.filter((message) => message.kind === "seed").length;
  const fields = { id: "a".repeat(32), name: "notes.md", base: "" };

  await keeper.keep(tab, state.doc, fields);
  assert.equal(sent.at(-1).text, state.doc.toString());
  assert.deepEqual(sent.at(-1).body, { ...fields, text: state.doc.toString() });
  assert.equal(seeds(), 1);

  // Typing, a line break, a deletion across lines, several changes at once.
  for (const changes of [{ from: 10, insert: "typed" }, { from: 5000, insert: "\n" },
    { from: 200, to: 9000 }, [{ from: 0, insert: "# " }, { from: 400, to: 402, insert: "\u00e9\u00e9\u00e9" }]]) {
    const update = edit(state, changes);
    keeper.changed(tab, update);
    state = update.state;
    await keeper.keep(tab, state.doc, fields);
    assert.equal(sent.at(-1).text, state.doc.toString(), JSON.stringify(changes));
    assert.equal(sent.at(-1).how, "worker");
  }
  // A burst of edits between two keeps goes as one change.
  const before = messages.length;
  for (const changes of [{ from: 3, insert: "a" }, { from: 4, insert: "b" }, { from: 1, to: 2 }]) {
    const update = edit(state, changes);
    keeper.changed(tab, update);
    state = update.state;
  }
  assert.equal(messages.length, before, "nothing is posted per key");
  await keeper.keep(tab, state.doc, fields);
  assert.equal(sent.at(-1).text, state.doc.toString());
  assert.equal(messages.slice(before).filter((message) => message.kind === "changes").length, 1);
  assert.equal(seeds(), 1, "edits go as changes, the text is not sent again");
  assert.ok(messages.filter((message) => message.kind === "changes").every((message) => JSON.stringify(message).length < 200));

  // Replaced without the editor showing it (a hidden tab reloaded): sent whole again.
  state = edit(state, { from: 0, to: state.doc.length, insert: "reloaded\ntext" }).state;
  await keeper.keep(tab, state.doc, fields);
  assert.equal(sent.at(-1).text, "reloaded\ntext");
  assert.equal(seeds(), 2);
  // An update that did not start from the copy's text leaves the copy behind, and so does a drop.
  const unseen = edit(EditorState.create({ doc: "other" }), { from: 0, insert: "x" });
  keeper.changed(tab, unseen);
  state = edit(state, { from: 0, insert: "y" }).state;
  await keeper.keep(tab, state.doc, fields);
  assert.equal(sent.at(-1).text, "yreloaded\ntext");
  assert.equal(seeds(), 3);
  keeper.drop(tab);
  await keeper.keep(tab, state.doc, fields);
  assert.equal(seeds(), 4);

  // A copy out of step behind the page's back: the page sends the text itself.
  port.postMessage({ kind: "changes", tab: tab.id, changes: ChangeSet.of({ from: 0, insert: "zz" }, state.doc.length).toJSON() });
  await keeper.keep(tab, state.doc, fields);
  assert.deepEqual(sent.at(-1), { how: "direct", text: state.doc.toString() });
});

test("a worker that breaks hands its waiting keep, and every later one, to the page", async () => {
  const sent = [];
  const port = { postMessage() {}, onmessage: null, onerror: null }; // never answers
  const keeper = new Keeper(port, async (body) => (sent.push(JSON.parse(body).text), { ok: true, status: 200, json: {} }));
  const tab = { id: "t3" };
  const state = EditorState.create({ doc: "kept" });
  const waiting = keeper.keep(tab, state.doc, { id: "c".repeat(32) });
  port.onerror(new Event("error"));
  assert.equal((await waiting).ok, true);
  await keeper.keep(tab, state.doc, { id: "c".repeat(32) });
  assert.deepEqual(sent, ["kept", "kept"]);
});

test("without a worker the page keeps the text itself", async () => {
  const sent = [];
  const keeper = new Keeper(null, async (body) => (sent.push(JSON.parse(body)), { ok: true, status: 200, json: {} }));
  const tab = { id: "t2" };
  const state = EditorState.create({ doc: "one\ntwo" });
  keeper.changed(tab, edit(state, { from: 0, insert: "x" }));
  assert.equal((await keeper.keep(tab, state.doc, { id: "b".repeat(32) })).ok, true);
  assert.deepEqual(sent, [{ id: "b".repeat(32), text: "one\ntwo" }]);
});
