#include "playerutils.h"

#include "logging.h"

#include <glib.h>

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstring>

namespace {

// Only the first four CPUs are ever handed out; higher bits of a mask are ignored.
constexpr int kMaskedCpus = 4;

cpu_set_t cpuSetOf(int cpuMask)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < kMaskedCpus; ++cpu)
        if (cpuMask & (1 << cpu))
            CPU_SET(cpu, &set);
    return set;
}

} // namespace

void setThreadCpuAffinity(unsigned long thread, int cpuMask, const QString& name)
{
    // A name over 15 bytes is refused and the thread keeps its old one; not worth a log line.
    pthread_setname_np(thread, name.toLocal8Bit().constData());

    const cpu_set_t set = cpuSetOf(cpuMask);
    const int err = pthread_setaffinity_np(thread, sizeof(set), &set);
    if (err != 0) {
        LOG(WARNING) << "Failed to set CPU affinity for" << name << "(" << strerror(err) << ")";
        return;
    }
    VLOG(1) << "Set CPU affinity for" << name << "to" << cpuMask;
}

void setThreadRealtimePriority(unsigned long thread, int priority, const QString& name)
{
    sched_param param{};
    param.sched_priority = priority;
    int err = 0;
    if (pthread_equal(thread, pthread_self())) {
        // Threads and processes this thread starts later (GStreamer's helpers, the web
        // engine's children) must not inherit real-time priority: one of them busy on the
        // same CPU would starve this thread.
        err = sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0 ? 0 : errno;
    } else {
        err = pthread_setschedparam(thread, SCHED_FIFO, &param);
    }
    if (err != 0) {
        LOG(WARNING) << "Failed to set realtime priority for" << name << "(" << strerror(err) << ")";
        return;
    }
    VLOG(1) << "Set realtime priority" << priority << "for" << name;
}

// GLib keeps the POSIX thread behind a GThread to itself. These are called by the
// GStreamer bus sync handler on the streaming thread that is being tuned, so the calling
// thread's own handle is the right one; any other GThread is out of reach.

void setGthreadCpuAffinity(GThread* thread, int cpuMask, const QString& name)
{
    if (thread != g_thread_self()) {
        LOG(WARNING) << "Cannot set CPU affinity for " << name << ": not the calling thread";
        return;
    }
    setThreadCpuAffinity(pthread_self(), cpuMask, name);
}

void setGthreadRealtimePriority(GThread* thread, int priority, const QString& name)
{
    if (thread != g_thread_self()) {
        LOG(WARNING) << "Cannot set realtime priority for " << name << ": not the calling thread";
        return;
    }
    setThreadRealtimePriority(pthread_self(), priority, name);
}

void setGstreamerThreadAffinityAndPriority(GThread* thread, const GstreamerThreadInfo& info)
{
    setGthreadCpuAffinity(thread, info.cpuMask, info.threadName);
    setGthreadRealtimePriority(thread, info.priority, info.threadName);
}

void setRenderThreadRealTimePriorityAndCpuAffinity(unsigned long thread)
{
    setThreadCpuAffinity(thread, 2, QStringLiteral("Render"));
    setThreadRealtimePriority(thread, 49, QStringLiteral("Render"));
}
