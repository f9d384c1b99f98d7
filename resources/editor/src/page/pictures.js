// Local pictures in the preview. The program serves them only with the page's
// token, which an <img src> cannot send: they are fetched here and shown
// through blob: addresses, kept by reference for the shown document while
// they are shown and let go when they are not. Fetches never hold up typing.
import { api, problem } from "./api.js";
import { pictureKey, pictureProblem } from "./pictureReferences.js";

export class Pictures {
  // addressOf(): the shown document's { path } or { file }, or null (not saved yet).
  // needsFolder(folder): the program asks for the document's folder to be allowed.
  constructor(container, { addressOf, needsFolder }) {
    this.container = container;
    this.addressOf = addressOf;
    this.needsFolder = needsFolder;
    this.cache = new Map(); // key -> { url } | { problem, needsFolder } | { waiting: Promise }
  }

  // Gives every picture not yet filled under `root` its source or its placeholder.
  fill(root = this.container) {
    const address = this.addressOf();
    for (const img of root.querySelectorAll("img[data-picture]:not([data-picture-state])")) {
      const src = img.dataset.picture;
      if (!address) {
        this.showProblem(img, "Picture not shown until the document is saved");
        continue;
      }
      const key = pictureKey(address, src);
      const known = this.cache.get(key);
      if (known && !known.waiting) this.show(img, known);
      else {
        img.dataset.pictureState = "waiting";
        (known ? known.waiting : this.fetch(key, address, src)).then((entry) => {
          if (img.isConnected && img.dataset.pictureState === "waiting") this.show(img, entry);
        });
      }
    }
  }

  fetch(key, address, src) {
    const waiting = api("GET", "/api/image", { query: { ...address, src } }).then((answer) => {
      let entry;
      if (answer.ok && answer.bytes) {
        const type = answer.headers.get("Content-Type") || "application/octet-stream";
        entry = { url: URL.createObjectURL(new Blob([answer.bytes], { type })) };
      } else if (answer.json && answer.json.needsFolder) {
        entry = { problem: "Picture not shown until its folder is allowed", needsFolder: answer.json.folder || "" };
      } else {
        entry = { problem: answer.status ? pictureProblem(answer.status, problem(answer)) : problem(answer) };
      }
      // Forgotten meanwhile (another document, or the folder was allowed): not kept.
      if (this.cache.get(key)?.waiting === waiting) this.cache.set(key, entry);
      else if (entry.url) URL.revokeObjectURL(entry.url);
      return entry;
    });
    this.cache.set(key, { waiting });
    return waiting;
  }

  show(img, entry) {
    if (entry.url) {
      img.dataset.pictureState = "shown";
      img.classList.remove("picture-problem");
      img.removeAttribute("title");
      if (img.dataset.pictureAlt !== undefined) img.alt = img.dataset.pictureAlt;
      img.src = entry.url;
      return;
    }
    this.showProblem(img, entry.problem);
    if (entry.needsFolder !== undefined) this.needsFolder(entry.needsFolder);
  }

  showProblem(img, text) {
    img.dataset.pictureState = "problem";
    img.classList.add("picture-problem");
    img.removeAttribute("src");
    // Shown in the picture's place, and read out as the picture's text; the
    // document's own text comes back with the picture.
    if (img.dataset.pictureAlt === undefined) img.dataset.pictureAlt = img.alt;
    img.alt = text;
    img.title = `${text}: ${img.dataset.picture}`;
  }

  // Lets go of the pictures no longer shown (their blob: addresses too); called
  // once the preview settled. A picture still shown keeps its answer, even a
  // refusal, so typing elsewhere does not ask for it again.
  sweep() {
    const address = this.addressOf();
    const inUse = new Set(address ? [...this.container.querySelectorAll("img[data-picture]")].map((img) => pictureKey(address, img.dataset.picture)) : []);
    for (const [key, entry] of this.cache) {
      if (entry.waiting || inUse.has(key)) continue;
      if (entry.url) URL.revokeObjectURL(entry.url);
      this.cache.delete(key);
    }
  }

  // After the folder was allowed: the pictures left out are asked for again.
  retry() {
    for (const [key, entry] of this.cache) if (!entry.url && !entry.waiting) this.cache.delete(key);
    for (const img of this.container.querySelectorAll("img[data-picture-state='problem']")) delete img.dataset.pictureState;
    this.fill();
  }
}

// The preview's pictures for the page: the shown tab's document, and the
// notice that asks for its folder, once per tab, with the button that allows it.
export function previewPictures(container, { shownTab, addressOf, setNotice }) {
  let pictures = null;
  const allow = async (tab) => {
    const answer = await api("POST", "/api/allow-images", { query: addressOf(tab) });
    if (!answer.ok) return setNotice(tab, { ...tab.notice, text: problem(answer), kind: "error" });
    if (answer.json.cancelled) return;
    if (!answer.json.allowed) return setNotice(tab, { ...tab.notice, text: answer.json.error || "That folder was not allowed.", kind: "error" });
    setNotice(tab, null);
    pictures.retry();
  };
  pictures = new Pictures(container, {
    addressOf: () => {
      const tab = shownTab();
      return tab ? addressOf(tab) : null;
    },
    needsFolder: (folder) => {
      const tab = shownTab();
      if (!tab || tab.picturesAsked) return;
      tab.picturesAsked = true;
      setNotice(tab, {
        text: `Pictures next to this document are not shown yet: allow access to its folder \u201C${folder}\u201D.`,
        choices: [{ label: "Allow\u2026", value: "allow-images", run: allow }],
      });
    },
  });
  return pictures;
}
