// The third-party licence file of the bundle: for every package one of whose
// files went into it, its name, version, licence name and licence text.
import { readFile, readdir } from "node:fs/promises";
import path from "node:path";

// "node_modules/@scope/name/dist/x.js" -> "@scope/name"; our own files -> null.
export function packageOf(input) {
  const parts = input.split("/");
  const at = parts.lastIndexOf("node_modules");
  if (at < 0 || at + 1 >= parts.length) return null;
  const first = parts[at + 1];
  if (first.startsWith("@")) return at + 2 < parts.length ? `${first}/${parts[at + 2]}` : null;
  return first;
}

// All of a package's licence files ("LICENSE", "LICENSE-MIT.txt", "LICENCE.md"...):
// a package offered under two licences ships both texts.
async function licenceText(folder) {
  const names = (await readdir(folder)).filter((name) => /^licen[cs]e([-.][\w.-]*)?$/i.test(name)).sort();
  if (names.length === 0) return null;
  const texts = await Promise.all(names.map((name) => readFile(path.join(folder, name), "utf8")));
  return texts.map((text) => text.trim()).join("\n\n");
}

export async function licenceFile(root, inputs) {
  const packages = [...new Set(inputs.map(packageOf).filter(Boolean))].sort();
  const sections = [];
  for (const name of packages) {
    const folder = path.join(root, "node_modules", name);
    const manifest = JSON.parse(await readFile(path.join(folder, "package.json"), "utf8"));
    const text = await licenceText(folder);
    // A bundled package without a licence text must not ship unnoticed.
    if (!text) throw new Error(`${name} has no licence file to include`);
    const licence = String(manifest.license).replace(/^\((.*)\)$/, "$1");
    sections.push(`${name} ${manifest.version} (${licence})\n\n${text}\n`);
  }
  const rule = "\n" + "-".repeat(72) + "\n\n";
  return "Third-party software in the editor page\n\n" + sections.join(rule);
}
