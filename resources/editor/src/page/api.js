// Talking to the program: the JSON API under /api/ (with the per-launch token)
// and the "quillmarsh" message channel. Bodies are strings or byte arrays,
// never Blobs, which the program's scheme handler reads safely.

export const token = document.querySelector('meta[name="quillmarsh-token"]')?.content || "";

export function post(message) {
  try {
    window.webkit.messageHandlers.quillmarsh.postMessage(message);
  } catch {
    // Outside the program there is no channel; the page still works for a look.
  }
}

export async function api(method, path, { query, body, headers } = {}) {
  if (body instanceof Blob) throw new TypeError("request bodies are strings or byte arrays, never Blobs");
  let url = path;
  // Escaped by hand: URLSearchParams writes spaces as "+", which the program
  // reads as a plus sign, as a URL's query may hold one.
  if (query) {
    url += "?" + Object.entries(query).map(([name, value]) => `${encodeURIComponent(name)}=${encodeURIComponent(value)}`).join("&");
  }
  const init = { method, headers: { "X-Quillmarsh-Token": token, ...(headers || {}) } };
  if (body !== undefined) init.body = body;
  let response;
  try {
    response = await fetch(url, init);
  } catch (error) {
    return { status: 0, ok: false, headers: new Headers(), json: { error: `could not reach the program (${error})` }, bytes: null };
  }
  const type = response.headers.get("Content-Type") || "";
  const answer = { status: response.status, ok: response.ok, headers: response.headers, json: null, bytes: null };
  if (type.startsWith("application/json")) answer.json = await response.json().catch(() => null);
  else answer.bytes = new Uint8Array(await response.arrayBuffer());
  return answer;
}

// The message the program gave with a refusal, as it worded it for the person.
export function problem(answer) {
  return answer.json && typeof answer.json.error === "string" ? answer.json.error : `request failed (${answer.status})`;
}
