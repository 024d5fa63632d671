#include "watchdognotifier.h"

#include <glog/logging.h>
#include <systemd/sd-daemon.h>

void WatchdogNotifier::notify() const
{
    if (!enabled)
        return;
    VLOG(1) << "Sending keep-alive.";
    // NOTIFY_SOCKET stays set: every later keep-alive needs it too.
    sd_notify(0, "WATCHDOG=1");
}
