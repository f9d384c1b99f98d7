// Builds the editor page into a folder (../web unless another is given):
// app.js and app.css from page/main.js, preview-worker.js from
// page/previewWorker.js, and THIRD-PARTY-LICENSES.txt made from
// the licence files of exactly the packages that ended up in the bundle.
// The output depends only on the sources and the lockfile, so a fresh build can
// be compared byte for byte with the committed one.
import * as esbuild from "esbuild";
import { writeFile, mkdir } from "node:fs/promises";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { licenceFile } from "./licences.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const outdir = path.resolve(process.argv[2] || path.join(here, "..", "web"));

await mkdir(outdir, { recursive: true });
// What the page and its worker are built with alike.
const common = {
  absWorkingDir: here,
  outdir,
  bundle: true,
  target: ["es2022"],
  minify: true,
  legalComments: "none",
  charset: "utf8",
  metafile: true,
  logLevel: "warning",
};
const result = await esbuild.build({ ...common, entryPoints: { app: "page/main.js" }, format: "esm" });

// The preview's renderer runs in a worker of its own, a classic script.
// So does the keeper of unsaved texts.
const worker = await esbuild.build({
  ...common,
  entryPoints: { "preview-worker": "page/previewWorker.js", "keeper-worker": "page/keeperWorker.js" },
  format: "iife",
});

// Only files with code left in the output: a package imported but shaken out
// entirely (the HTML parser lang-markdown could load) is not shipped.
const shipped = [...Object.values(result.metafile.outputs), ...Object.values(worker.metafile.outputs)]
  .flatMap((output) => Object.entries(output.inputs))
  .filter(([, use]) => use.bytesInOutput > 0)
  .map(([input]) => input);
await writeFile(path.join(outdir, "THIRD-PARTY-LICENSES.txt"), await licenceFile(here, shipped));
