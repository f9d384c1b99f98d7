// The folder tree: the flat listing of GET /api/tree turned into nested folders,
// and the rows shown for what is expanded or matches the filter.

const order = (x, y) => x.localeCompare(y, "en", { sensitivity: "base", numeric: true }) || (x < y ? -1 : x > y ? 1 : 0);

export function buildTree(paths) {
  const root = { name: "", path: "", folders: new Map(), files: [] };
  for (const path of paths) {
    const parts = path.split("/");
    let folder = root;
    for (let k = 0; k < parts.length - 1; k++) {
      const sub = parts.slice(0, k + 1).join("/");
      if (!folder.folders.has(parts[k])) folder.folders.set(parts[k], { name: parts[k], path: sub, folders: new Map(), files: [] });
      folder = folder.folders.get(parts[k]);
    }
    folder.files.push({ name: parts[parts.length - 1], path });
  }
  return root;
}

// Rows to draw: folders first, each level in name order. With a filter, only
// documents whose path contains it (any case) and the folders above them,
// all opened, whatever was expanded before.
export function visibleRows(root, expanded, filter = "") {
  const wanted = filter.trim().toLowerCase();
  const rows = [];
  const holdsMatch = new Map();
  const matches = (folder) => {
    if (!wanted) return true;
    if (holdsMatch.has(folder)) return holdsMatch.get(folder);
    const found = folder.files.some((file) => file.path.toLowerCase().includes(wanted)) ||
                  [...folder.folders.values()].some(matches);
    holdsMatch.set(folder, found);
    return found;
  };
  const walk = (folder, depth) => {
    const folders = [...folder.folders.values()].sort((x, y) => order(x.name, y.name));
    for (const sub of folders) {
      if (!matches(sub)) continue;
      const open = wanted ? true : expanded.has(sub.path);
      rows.push({ kind: "folder", path: sub.path, name: sub.name, depth, expanded: open });
      if (open) walk(sub, depth + 1);
    }
    const files = [...folder.files].sort((x, y) => order(x.name, y.name));
    for (const file of files) {
      if (wanted && !file.path.toLowerCase().includes(wanted)) continue;
      rows.push({ kind: "file", path: file.path, name: file.name, depth });
    }
  };
  walk(root, 0);
  return rows;
}

// The folders above a document, so that showing it can open them.
export function ancestors(path) {
  const parts = path.split("/");
  return parts.slice(0, -1).map((_, k) => parts.slice(0, k + 1).join("/"));
}
