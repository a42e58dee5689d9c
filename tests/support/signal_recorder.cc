#include "tests/support/signal_recorder.h"

#include "tests/support/bus.h"

namespace optad::test {

SignalRecorder::SignalRecorder(GDBusConnection *bus, GMainContext *context, const char *sender, const char *path,
                               const char *interface, const char *member)
    : bus_(bus), context_(context)
{
    // GDBus delivers a subscription's signals in the thread-default context
    // of its subscriber.
    g_main_context_push_thread_default(context_);
    id_ = g_dbus_connection_signal_subscribe(bus_, sender, interface, member, path, nullptr,
                                             G_DBUS_SIGNAL_FLAGS_NONE, on_signal, this, nullptr);
    g_main_context_pop_thread_default(context_);
}

SignalRecorder::~SignalRecorder()
{
    g_dbus_connection_signal_unsubscribe(bus_, id_);
    clear();
}

void SignalRecorder::on_signal(GDBusConnection *, const char *sender, const char *path, const char *interface,
                               const char *member, GVariant *body, gpointer self)
{
    static_cast<SignalRecorder *>(self)->signals_.push_back(
        {sender != nullptr ? sender : "", path, interface, member, g_variant_ref(body)});
}

std::string SignalRecorder::text(size_t i) const
{
    g_autofree char *printed = g_variant_print(body(i), TRUE);
    return printed;
}

bool SignalRecorder::wait_for(size_t n, int timeout_ms)
{
    return iterate_until(context_, [&] { return signals_.size() >= n; }, timeout_ms);
}

void SignalRecorder::clear()
{
    for (Signal &s : signals_)
        g_variant_unref(s.body);
    signals_.clear();
}

}  // namespace optad::test
