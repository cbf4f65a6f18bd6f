#pragma once
// SIGTERM and SIGINT delivered to the event loop: the signal handler only
// writes a byte to a socket pair; a notifier runs the quit path.
#include <functional>

class QObject;

namespace quvo {

// Installs handlers for SIGTERM and SIGINT. `onSignal` runs on the event
// loop's thread, once per delivered signal, while `context` lives; when it is
// destroyed the default handlers come back. A later call replaces an earlier
// one. False when the socket pair or the handlers could not be set up.
bool installQuitSignals(QObject* context, std::function<void()> onSignal);

} // namespace quvo
