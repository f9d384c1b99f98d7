// How the preview treats a picture's reference as the document wrote it:
// pictures inside the document itself (data:) show as they are, local files
// are asked of the program, anything with a scheme or a host is left out.
// Plain functions, no page.

// "data", "local", "remote" or "none".
export function pictureKind(src) {
  const text = typeof src === "string" ? src.trim() : "";
  if (!text) return "none";
  if (/^data:image\//i.test(text)) return "data";
  // "//host/a.png" and "https:", "file:", "javascript:" alike: never asked for.
  if (text.startsWith("//") || text.startsWith("\\\\") || /^[a-z][a-z0-9+.-]*:/i.test(text)) return "remote";
  return "local";
}

// The key of a fetched picture: the same reference in another document may name another file.
export function pictureKey(address, src) {
  return JSON.stringify([address && address.file ? { file: address.file } : { path: (address && address.path) || "" }, src]);
}

// What the placeholder says for the program's refusal, by its status.
export function pictureProblem(status, message) {
  if (status === 404) return "Picture not found";
  if (status === 413) return "Picture too large to show";
  if (status === 415) return "Not a picture the preview shows";
  const reason = typeof message === "string" && message ? message : `the program refused it (${status})`;
  return `Picture not shown: ${reason}`;
}
