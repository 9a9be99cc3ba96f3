#include "platform/TerminationSignals.h"

#include <glib-unix.h>

#include <csignal>

namespace platform {
namespace {

struct Registration {
    int signal;
    std::function<void(int)> handler;
};

gboolean dispatch(gpointer data) {
    auto* registration = static_cast<Registration*>(data);
    registration->handler(registration->signal);
    return G_SOURCE_CONTINUE;
}

}  // namespace

void handleTerminationSignals(std::function<void(int signal)> handler) {
    for (int signal : {SIGTERM, SIGINT}) {
        // Kept for the process's life, like the handlers themselves.
        g_unix_signal_add(signal, dispatch, new Registration{signal, handler});
    }
}

}  // namespace platform
