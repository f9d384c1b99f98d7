// The program's settings as the page knows them: read at start-up, changed
// through POST /api/settings (whose answer is what holds), and told to the
// parts of the page that follow them.
import { api, problem } from "./api.js";

export const settings = { values: null };
const listeners = [];

function tell() {
  for (const listener of listeners) listener(settings.values);
}

// listener(values) runs now when the settings are known, and after each change.
export function onSettings(listener) {
  listeners.push(listener);
  if (settings.values) listener(settings.values);
}

export async function loadSettings() {
  const answer = await api("GET", "/api/settings");
  if (answer.ok && answer.json && typeof answer.json === "object") {
    settings.values = answer.json;
    tell();
  }
  return answer;
}

// Resolves to null when the program kept the changes it could, or to the reason it refused all.
export async function changeSettings(changes) {
  const answer = await api("POST", "/api/settings", { body: JSON.stringify(changes), headers: { "Content-Type": "application/json" } });
  if (!answer.ok || !answer.json) return problem(answer);
  settings.values = answer.json;
  tell();
  return null;
}
