// Naming, CPU placement and real-time priority of the viewer's busy threads.
#pragma once

#include <QString>

typedef struct _GThread GThread;

// How one kind of GStreamer streaming thread is tuned.
struct GstreamerThreadInfo {
    QString taskName;   // the streaming task's name as GStreamer gives it
    int priority = 1;   // SCHED_FIFO priority
    int cpuMask = 1;    // bit i = CPU i; only CPUs 0 to 3 count
    QString threadName; // the system name given to the thread
};

// Names the POSIX thread and pins it to the CPUs of the mask.
void setThreadCpuAffinity(unsigned long thread, int cpuMask, const QString& name);
// SCHED_FIFO with the given priority; the name only appears in log lines.
void setThreadRealtimePriority(unsigned long thread, int priority, const QString& name);
void setGthreadCpuAffinity(GThread* thread, int cpuMask, const QString& name);
void setGthreadRealtimePriority(GThread* thread, int priority, const QString& name);
void setGstreamerThreadAffinityAndPriority(GThread* thread, const GstreamerThreadInfo& info);
// The scene-graph render thread: CPU 1, priority 49, named "Render".
void setRenderThreadRealTimePriorityAndCpuAffinity(unsigned long thread);
