// Runs inside the web process. The page's only way to talk to the program is
// window.webkit.messageHandlers.quillmarsh.postMessage(body), and this module
// offers it to exactly one kind of document: the main frame of a page under
// the editor's start address (SchemeNames::startAddress). Script messages of
// the web view itself would be offered to every frame and arrive without
// saying which frame sent them, so an iframe could pose as the editor; here a
// frame that is not the editor never sees the channel at all, and each message
// still carries its frame's address so the program can check it again.
#include <webkit/webkit-web-process-extension.h>

#include <string_view>

#include "app/bridge/SchemeNames.hpp"
#include "app/shell/GuardedCallback.hpp"

namespace {

constexpr const char* messageName = "quillmarsh";

WebKitWebProcessExtension* extension = nullptr;

// Installs the channel under window.webkit.messageHandlers.quillmarsh without
// letting the page replace or reconfigure it. `post` is the native function.
constexpr const char* installer = R"JS(
(function (post) {
  'use strict';
  var channel = Object.freeze({ postMessage: function (body) { post(body); } });
  var handlers = Object.freeze({ quillmarsh: channel });
  Object.defineProperty(window, 'webkit', {
    value: Object.freeze({ messageHandlers: handlers }),
    writable: false, enumerable: false, configurable: false
  });
})
)JS";

void postNow(JSCValue* body, gpointer pageID) {
    WebKitWebPage* page = webkit_web_process_extension_get_page(extension, GPOINTER_TO_SIZE(pageID));
    if (!page) return;
    // The channel lives only in main frames, so the sender is the page's main
    // frame; its address is the page's, as it stands now.
    const char* uri = webkit_web_page_get_uri(page);

    // A body that has no JSON form (undefined, a function, a cycle) travels as
    // nothing, and the program refuses it like any other malformed message.
    char* json = jsc_value_to_json(body, 0);
    JSCContext* context = jsc_value_get_context(body);
    if (jsc_context_get_exception(context)) jsc_context_clear_exception(context);

    GVariant* parameters = g_variant_new("(sbs)", json ? json : "", TRUE, uri ? uri : "");
    g_free(json);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new(messageName, parameters), nullptr, nullptr,
                                         nullptr);
}

// A message that fails on the way is dropped, as a malformed one would be.
void post(JSCValue* body, gpointer pageID) noexcept { guarded([&] { postNow(body, pageID); }); }

void installChannel(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame) {
    if (!webkit_frame_is_main_frame(frame)) return;
    const char* uri = webkit_frame_get_uri(frame);
    if (!uri || !std::string_view(uri).starts_with(SchemeNames::startAddress)) return;

    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    JSCValue* function = jsc_value_new_function(context, nullptr, G_CALLBACK(post),
                                                GSIZE_TO_POINTER(webkit_web_page_get_id(page)), nullptr,
                                                G_TYPE_NONE, 1, JSC_TYPE_VALUE);
    JSCValue* install = jsc_context_evaluate(context, installer, -1);
    JSCValue* result = jsc_value_function_call(install, JSC_TYPE_VALUE, function, G_TYPE_NONE);
    if (jsc_context_get_exception(context)) jsc_context_clear_exception(context);
    g_object_unref(result);
    g_object_unref(install);
    g_object_unref(function);
    g_object_unref(context);
}

// A frame the channel could not be installed in simply has none.
void windowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) noexcept {
    guarded([&] { installChannel(world, page, frame); });
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_process_extension_initialize(WebKitWebProcessExtension* self) noexcept {
    guarded([self] {
        extension = self;
        g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                         G_CALLBACK(windowObjectCleared), nullptr);
    });
}
