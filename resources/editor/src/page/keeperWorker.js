// The worker that keeps unsaved texts (see keeperCore.js). The page hands it
// the per-launch token once; every keep it answers with the call's number.
import { Text, ChangeSet } from "@codemirror/state";
import { makeKeeper } from "./keeperCore.js";

let token = "";

async function send(body) {
  try {
    const response = await fetch("/api/recovery", { method: "POST", headers: { "X-Quillmarsh-Token": token }, body });
    const json = await response.json().catch(() => null);
    return { status: response.status, ok: response.ok, json };
  } catch (error) {
    return { status: 0, ok: false, json: { error: `could not reach the program (${error})` } };
  }
}

const handle = makeKeeper(send, { Text, ChangeSet });

self.onmessage = async (event) => {
  const message = event.data;
  if (message.kind === "token") {
    token = message.token;
    return;
  }
  const answer = handle(message);
  if (message.kind === "keep") self.postMessage({ call: message.call, answer: await answer });
};
