#include "app/shell/GioNetwork.hpp"

#include "app/shell/GuardedCallback.hpp"

GioNetwork::GioNetwork() : monitor_(g_network_monitor_get_default()) {
    if (!monitor_) return;
    online_ = g_network_monitor_get_network_available(monitor_);
    handler_ = g_signal_connect(monitor_, "network-changed", G_CALLBACK(&GioNetwork::changed), this);
}

GioNetwork::~GioNetwork() {
    if (monitor_ && handler_) g_signal_handler_disconnect(monitor_, handler_);
}

void GioNetwork::changed(GNetworkMonitor*, gboolean available, gpointer self) noexcept {
    guarded([&] { static_cast<GioNetwork*>(self)->online_ = available != FALSE; });
}
