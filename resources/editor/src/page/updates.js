// Update news: the check the person asks for (a dialog with the answer), the
// automatic check at launch, the one question whether to check at all, and
// the changelog once after an update. What comes unasked is a small box that
// never takes the focus from the text.
import { api, problem } from "./api.js";
import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { settings, changeSettings } from "./settings.js";
import { status } from "./statusBar.js";
import { about } from "./commands.js";

// The unasked news box; choices: [{ label, run }]; null hides it.
export function showNews(text, choices = []) {
  let box = document.getElementById("news");
  if (!text) {
    if (box) box.hidden = true;
    return;
  }
  if (!box) {
    box = el("div", { id: "news", role: "status" });
    document.body.append(box);
  }
  const close = () => void (box.hidden = true);
  box.replaceChildren(
    el("span", { className: "news-text", text }),
    ...choices.map(({ label, run }) => el("button", { type: "button", text: label, onclick: () => { close(); run(); } })),
  );
  box.hidden = false;
}

async function download() {
  const answer = await api("POST", "/api/update/download");
  status(answer.ok ? "The download page opens in the browser" : problem(answer));
}

async function skip(version) {
  const refused = await changeSettings({ updateSkip: version });
  status(refused || `Version ${version} will not be offered again`);
}

// The dialog for a newer version: its notes and what to do.
async function offer(answer) {
  const body = el("div", {}, [
    el("p", { text: `You have version ${answer.current}.` }),
    answer.notes ? el("pre", { className: "update-notes", text: answer.notes }) : el("p", { text: "No release notes came with it." }),
  ]);
  const choice = await ask({
    title: `Version ${answer.version} is available`,
    body,
    choices: [
      { label: "Download", value: "download", default: true },
      { label: "Skip This Version", value: "skip" },
      { label: "Later", value: "later", cancel: true },
    ],
  });
  if (choice === "download") await download();
  else if (choice === "skip") await skip(answer.version);
}

export async function checkUpdates() {
  status("Checking for updates\u2026");
  const answer = await api("GET", "/api/update/check");
  const result = answer.ok && answer.json ? answer.json : { state: "failed", why: problem(answer) };
  status("");
  if (result.state === "newer") return offer(result);
  const done = [{ label: "Close", value: "close", default: true, cancel: true }];
  if (result.state === "current") {
    return ask({ title: "No update", message: `Version ${result.current} is the newest.`, choices: done });
  }
  return ask({ title: "Could not check for updates", message: result.why || "The check did not come to a result.", choices: done });
}

async function automaticCheck() {
  const answer = await api("GET", "/api/update/check", { query: { auto: "1" } });
  if (!answer.ok || !answer.json) return;
  const result = answer.json;
  if (result.state === "newer" && !result.skipped) {
    showNews(`Version ${result.version} is available.`, [
      { label: "Details\u2026", run: () => offer(result) },
      { label: "Later", run: () => {} },
    ]);
  }
}

// At launch, once the settings are known.
export async function updatesAtLaunch(currentVersion) {
  const values = settings.values;
  if (!values) return;
  // The program keeps seenVersion only while it names the running version,
  // so after an update it is empty again: the changes are offered once.
  if (currentVersion && values.seenVersion !== currentVersion) {
    await changeSettings({ seenVersion: currentVersion });
    showNews(`This is version ${currentVersion}.`, [
      { label: "What\u2019s New", run: () => about() },
      { label: "Dismiss", run: () => {} },
    ]);
    return;
  }
  if (values.updates === "on") return automaticCheck();
  if (values.updates === "ask") {
    showNews("Check for a newer version once a day?", [
      { label: "Check Automatically", run: async () => {
        await changeSettings({ updates: "on" });
        await automaticCheck();
      } },
      { label: "Don\u2019t Check", run: () => changeSettings({ updates: "off" }) },
    ]);
  }
}
