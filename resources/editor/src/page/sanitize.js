// Making the worker's HTML safe to put in the page: no scripts, frames, forms,
// styles or event handlers, and no pictures fetched from elsewhere; local
// pictures keep their reference for the page to fetch.
import DOMPurify from "dompurify";
import { pictureKind } from "./pictureReferences.js";

const purify = DOMPurify(window);
purify.addHook("afterSanitizeAttributes", (node) => {
  // Pictures from elsewhere would tell someone the document was opened; data pictures stay.
  if (node.tagName === "IMG") {
    const source = node.getAttribute("src") || "";
    // Only the page marks what it fetches.
    node.removeAttribute("data-picture");
    const kind = pictureKind(source);
    if (kind === "local") {
      // Fetched by the page with its token (pictures.js), never by the <img> itself.
      node.removeAttribute("src");
      node.setAttribute("data-picture", source);
    } else if (kind !== "data") {
      node.removeAttribute("src");
      node.classList.add("picture-left-out");
      node.setAttribute("title", `Picture not shown: ${source}`);
    }
    node.removeAttribute("srcset");
  }
});
const sanitizeOptions = {
  FORBID_TAGS: ["style", "form", "iframe", "frame", "object", "embed", "link", "meta", "base", "audio", "video", "source", "picture"],
  FORBID_ATTR: ["style", "srcset", "action", "formaction", "background"],
  RETURN_DOM_FRAGMENT: true,
};

export function sanitize(html) {
  return purify.sanitize(html, sanitizeOptions);
}
