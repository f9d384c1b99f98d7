#include "app/shell/CopiedText.hpp"

#include <gdk/x11/gdkx.h>

#include <cstring>
#include <vector>

#include "app/shell/GuardedCallback.hpp"
#include "app/shell/PlainTextTypes.hpp"

namespace {

// Marks the content this unit made, so taking the clipboard again with it
// (which signals a change like any other) is not taken over a second time.
GQuark servedFromMemoryMark() {
    static const GQuark mark = g_quark_from_static_string("quillmarsh-copied-text-from-memory");
    return mark;
}

// The text a content holds as a string, or nullptr; the caller frees it.
char* copiedString(GdkContentProvider* content) {
    GValue value = G_VALUE_INIT;
    g_value_init(&value, G_TYPE_STRING);
    char* text = nullptr;
    if (gdk_content_provider_get_value(content, &value, nullptr)) text = g_value_dup_string(&value);
    g_value_unset(&value);
    return text;
}

// The UTF-8 text in `utf8` in the character set `set`, or nullptr when the
// system has no converter for it. Characters the set lacks become \u escapes.
GBytes* encoded(GBytes* utf8, const std::string& set) {
    if (PlainTextTypes::isUtf8(set)) return g_bytes_ref(utf8);
    gsize length = 0;
    const auto* text = static_cast<const char*>(g_bytes_get_data(utf8, &length));
    gsize written = 0;
    char* converted = g_convert_with_fallback(text, static_cast<gssize>(length), set.c_str(), "UTF-8", nullptr,
                                              nullptr, &written, nullptr);
    return converted ? g_bytes_new_take(converted, written) : nullptr;
}

// Text below this size goes to another program in one piece, which GTK
// completes without waiting on the main loop; the incremental transfers that
// hang start at the X server's request size (about 256 KB here). Leaving
// smaller text alone matters: a text field that loses the primary selection
// to a replacement drops its own selection, so Ctrl+A then typing would no
// longer replace the field's text.
constexpr std::size_t smallEnoughForGtk = 64 * 1024;

// A content that offers everything `original` does, its plain-text types as
// bytes made now; nullptr when `original` holds no text, or text small enough
// for GTK's own way.
GdkContentProvider* withTextAsBytes(GdkContentProvider* original) {
    char* text = copiedString(original);
    if (!text) return nullptr;
    if (std::strlen(text) < smallEnoughForGtk) {
        g_free(text);
        return nullptr;
    }
    GBytes* utf8 = g_bytes_new_take(text, std::strlen(text));

    std::vector<GdkContentProvider*> providers;
    // The string's own types are the ones GTK adds when it offers the
    // content, by what it can turn the content's values into.
    GdkContentFormats* formats =
        gdk_content_formats_union_serialize_mime_types(gdk_content_provider_ref_formats(original));
    gsize count = 0;
    const char* const* types = gdk_content_formats_get_mime_types(formats, &count);
    for (gsize k = 0; k < count; ++k) {
        const auto set = PlainTextTypes::characterSet(types[k]);
        if (!set) continue;
        // A set with no converter stays with the original, whose own
        // converter fails the same way before any stream is written.
        if (GBytes* bytes = encoded(utf8, *set)) {
            providers.push_back(gdk_content_provider_new_for_bytes(types[k], bytes));
            g_bytes_unref(bytes);
        }
    }
    gdk_content_formats_unref(formats);
    g_bytes_unref(utf8);
    if (providers.empty()) return nullptr;

    // A union answers each type from the first member that offers it, so the
    // bytes come before the original, which still serves all other types
    // (and the string itself when our own window pastes).
    providers.push_back(GDK_CONTENT_PROVIDER(g_object_ref(original)));
    return gdk_content_provider_new_union(providers.data(), providers.size());
}

void contentChanged(GdkClipboard* clipboard, gpointer) noexcept {
    guarded([&] {
        if (!gdk_clipboard_is_local(clipboard)) return;
        GdkContentProvider* content = gdk_clipboard_get_content(clipboard);
        if (!content || g_object_get_qdata(G_OBJECT(content), servedFromMemoryMark())) return;
        GdkContentProvider* replacement = withTextAsBytes(content);
        if (!replacement) return;
        g_object_set_qdata(G_OBJECT(replacement), servedFromMemoryMark(), GINT_TO_POINTER(1));
        gdk_clipboard_set_content(clipboard, replacement);
        g_object_unref(replacement);
    });
}

}  // namespace

namespace CopiedText {

void serveFromMemory(GdkDisplay* display) {
    if (!display || !GDK_IS_X11_DISPLAY(display)) return;
    g_signal_connect(gdk_display_get_clipboard(display), "changed", G_CALLBACK(contentChanged), nullptr);
    g_signal_connect(gdk_display_get_primary_clipboard(display), "changed", G_CALLBACK(contentChanged), nullptr);
}

}  // namespace CopiedText
