// Making the worker's HTML safe to put in the page: no scripts, frames, forms,
// styles or event handlers, and no pictures fetched from elsewhere.
import DOMPurify from "dompurify";

const purify = DOMPurify(window);
purify.addHook("afterSanitizeAttributes", (node) => {
  // Pictures from elsewhere would tell someone the document was opened; data pictures stay.
  if (node.tagName === "IMG") {
    const source = node.getAttribute("src") || "";
    if (!/^data:image\//i.test(source)) {
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
