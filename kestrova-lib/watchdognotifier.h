// Keep-alive messages to the service manager's watchdog.
#pragma once

class WatchdogNotifier {
public:
    // Disabled when the viewer runs without a service watchdog (development, tests).
    explicit WatchdogNotifier(bool enabled) : enabled(enabled) {}

    // Tells the service manager the viewer is alive; nothing when disabled.
    void notify() const;

private:
    bool enabled;
};
