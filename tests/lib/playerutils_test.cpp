// CPU placement, names and real-time priority of threads, checked with what the kernel
// reports back for a real thread.
#include "playerutils.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

using testsupport::LogCapture;
using testsupport::Verbosity;

namespace {

using Cpus = std::vector<int>;

// Something to tune: a thread that idles until the test is done with it.
class ParkedThread {
public:
    ParkedThread()
        : m_thread([released = m_release.get_future()] { released.wait(); })
    {
    }
    ~ParkedThread()
    {
        m_release.set_value();
        m_thread.join();
    }
    unsigned long handle() { return m_thread.native_handle(); }

private:
    std::promise<void> m_release;
    std::thread m_thread;
};

Cpus cpusOf(const cpu_set_t& set)
{
    Cpus cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set))
            cpus.push_back(cpu);
    return cpus;
}

Cpus affinityOf(pthread_t thread)
{
    cpu_set_t set;
    EXPECT_EQ(pthread_getaffinity_np(thread, sizeof(set), &set), 0);
    return cpusOf(set);
}

void setAffinity(pthread_t thread, const Cpus& cpus)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu : cpus)
        CPU_SET(cpu, &set);
    ASSERT_EQ(pthread_setaffinity_np(thread, sizeof(set), &set), 0);
}

// The CPUs this process may use; the kernel drops the others from a requested set.
Cpus availableCpus()
{
    cpu_set_t set;
    EXPECT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
    return cpusOf(set);
}

Cpus onlyAvailable(const Cpus& requested)
{
    const Cpus available = availableCpus();
    Cpus cpus;
    for (int cpu : requested)
        if (std::find(available.begin(), available.end(), cpu) != available.end())
            cpus.push_back(cpu);
    return cpus;
}

std::string nameOf(pthread_t thread)
{
    char name[16] = {};
    EXPECT_EQ(pthread_getname_np(thread, name, sizeof(name)), 0);
    return name;
}

struct Scheduling {
    int policy = -1;
    int priority = -1;
    bool operator==(const Scheduling& other) const { return policy == other.policy && priority == other.priority; }
};

std::ostream& operator<<(std::ostream& out, const Scheduling& s)
{
    const std::string policy = s.policy == SCHED_FIFO    ? "SCHED_FIFO"
                               : s.policy == SCHED_OTHER ? "SCHED_OTHER"
                                                         : "policy " + std::to_string(s.policy);
    return out << policy << " " << s.priority;
}

const Scheduling kNormal{SCHED_OTHER, 0};
const Scheduling kRender{SCHED_FIFO, 49};

Scheduling schedulingOf(pthread_t thread)
{
    Scheduling s;
    sched_param param{};
    EXPECT_EQ(pthread_getschedparam(thread, &s.policy, &param), 0);
    s.policy &= ~SCHED_RESET_ON_FORK; // how children are started is checked separately
    s.priority = param.sched_priority;
    return s;
}

// Nothing is left running real-time after a test.
void makeNormal(pthread_t thread)
{
    const sched_param param{};
    EXPECT_EQ(pthread_setschedparam(thread, SCHED_OTHER, &param), 0);
}

// SCHED_FIFO needs root or CAP_SYS_NICE.
bool realtimeAllowed()
{
    ParkedThread probe;
    sched_param param{};
    param.sched_priority = 1;
    return pthread_setschedparam(probe.handle(), SCHED_FIFO, &param) == 0;
}

// Runs body on a thread GLib created, and waits for it.
void runInGThread(const std::function<void()>& body)
{
    GThread* thread = g_thread_new(
        "tuned",
        [](gpointer data) -> gpointer {
            (*static_cast<const std::function<void()>*>(data))();
            return nullptr;
        },
        const_cast<std::function<void()>*>(&body));
    g_thread_join(thread);
}

} // namespace

// Bit i of the mask is CPU i, for CPUs 0 to 3. This machine may have fewer: the kernel
// accepts a set as long as one of its CPUs is there and keeps only those (on a 2-CPU
// box mask 6 ends up as CPU 1 alone), and refuses a set with none.
TEST(ThreadCpuAffinity, MaskBitsBecomeTheThreadsCpus)
{
    const Cpus available = availableCpus();
    ASSERT_GE(available.size(), 2u);
    ASSERT_EQ(available[0], 0);
    ASSERT_EQ(available[1], 1);

    struct Case {
        const char* name;
        int mask;
        Cpus requested; // empty: refused, the affinity stays as it was
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"CPU 0", 1, {0}, {"I:Set CPU affinity forWorkerto1"}},
        {"CPU 1", 2, {1}, {"I:Set CPU affinity forWorkerto2"}},
        {"CPUs 0 and 1", 3, {0, 1}, {"I:Set CPU affinity forWorkerto3"}},
        {"CPUs 1 and 2", 6, {1, 2}, {"I:Set CPU affinity forWorkerto6"}},
        {"bit 4 next to CPU 1 is ignored", 0x12, {1}, {"I:Set CPU affinity forWorkerto18"}},
        {"every bit means CPUs 0 to 3", -1, {0, 1, 2, 3}, {"I:Set CPU affinity forWorkerto-1"}},
        {"bit 4 alone is no CPU", 16, {}, {"W:Failed to set CPU affinity forWorker(Invalid argument)"}},
        {"empty mask", 0, {}, {"W:Failed to set CPU affinity forWorker(Invalid argument)"}},
    };
    ParkedThread thread;
    Verbosity verbose(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setAffinity(thread.handle(), {0});
        LogCapture log;
        setThreadCpuAffinity(thread.handle(), c.mask, QStringLiteral("Worker"));
        EXPECT_EQ(affinityOf(thread.handle()), c.requested.empty() ? Cpus{0} : onlyAvailable(c.requested));
        EXPECT_EQ(log.summary(), c.log);
    }
}

// The kernel keeps thread names to 15 bytes; a longer one is refused and not worth a log line.
TEST(ThreadCpuAffinity, NamesTheThreadWhenTheNameFits)
{
    struct Case {
        const char* name;
        QString threadName;
        std::string expected;
    };
    const Case cases[] = {
        {"15 bytes", QStringLiteral("Fifteen-bytes15"), "Fifteen-bytes15"},
        {"16 bytes", QStringLiteral("Sixteen-bytes-16"), "before"},
        {"empty", QString(), ""},
    };
    ParkedThread thread;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(pthread_setname_np(thread.handle(), "before"), 0);
        setAffinity(thread.handle(), {0});
        LogCapture log;
        setThreadCpuAffinity(thread.handle(), 2, c.threadName);
        EXPECT_EQ(nameOf(thread.handle()), c.expected);
        EXPECT_EQ(affinityOf(thread.handle()), Cpus{1});
        EXPECT_EQ(log.summary(), std::vector<std::string>{}) << "success is only told verbosely";
    }
}

TEST(ThreadRealtimePriority, OutOfRangePrioritiesAreRefused)
{
    ParkedThread thread;
    for (int priority : {0, 100, -1}) {
        SCOPED_TRACE(priority);
        LogCapture log;
        setThreadRealtimePriority(thread.handle(), priority, QStringLiteral("Worker"));
        EXPECT_EQ(schedulingOf(thread.handle()), kNormal);
        EXPECT_EQ(log.summary(), std::vector<std::string>{"W:Failed to set realtime priority forWorker(Invalid argument)"});
        makeNormal(thread.handle());
    }
}

TEST(ThreadRealtimePriority, SwitchesToFifoWithThePriority)
{
    if (!realtimeAllowed())
        GTEST_SKIP() << "SCHED_FIFO is not permitted here";
    ParkedThread thread;
    Verbosity verbose(1);
    for (int priority : {1, 49, 99}) {
        SCOPED_TRACE(priority);
        LogCapture log;
        setThreadRealtimePriority(thread.handle(), priority, QStringLiteral("Worker"));
        EXPECT_EQ(schedulingOf(thread.handle()), (Scheduling{SCHED_FIFO, priority}));
        EXPECT_EQ(log.summary(),
                  std::vector<std::string>{"I:Set realtime priority" + std::to_string(priority) + "forWorker"});
        makeNormal(thread.handle());
    }
}

TEST(ThreadRealtimePriority, RenderThreadGoesToCpu1AtPriority49)
{
    if (!realtimeAllowed())
        GTEST_SKIP() << "SCHED_FIFO is not permitted here";
    ParkedThread thread;
    setAffinity(thread.handle(), {0});
    Verbosity verbose(1);
    LogCapture log;
    setRenderThreadRealTimePriorityAndCpuAffinity(thread.handle());
    EXPECT_EQ(nameOf(thread.handle()), "Render");
    EXPECT_EQ(affinityOf(thread.handle()), Cpus{1});
    EXPECT_EQ(schedulingOf(thread.handle()), kRender);
    EXPECT_EQ(log.summary(),
              (std::vector<std::string>{"I:Set CPU affinity forRenderto2", "I:Set realtime priority49forRender"}));
    makeNormal(thread.handle());
}

// Streaming threads are tuned from inside themselves, by the bus sync handler.
TEST(GthreadTuning, AGlibThreadTunesItself)
{
    if (!realtimeAllowed())
        GTEST_SKIP() << "SCHED_FIFO is not permitted here";
    struct Seen {
        std::string name;
        Cpus cpus;
        Scheduling scheduling;
    };
    GstreamerThreadInfo info;
    info.taskName = QStringLiteral("queue0:src");
    info.priority = 30;
    info.cpuMask = 2;
    info.threadName = QStringLiteral("VideoQueue");

    struct Case {
        const char* name;
        std::function<void()> tune;
        Seen expected;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"affinity", [] { setGthreadCpuAffinity(g_thread_self(), 2, QStringLiteral("Decoder")); },
         {"Decoder", {1}, kNormal}, {"I:Set CPU affinity forDecoderto2"}},
        {"priority", [] { setGthreadRealtimePriority(g_thread_self(), 49, QStringLiteral("Decoder")); },
         {"tuned", {0}, kRender}, {"I:Set realtime priority49forDecoder"}},
        {"both from the thread info", [&info] { setGstreamerThreadAffinityAndPriority(g_thread_self(), info); },
         {"VideoQueue", {1}, {SCHED_FIFO, 30}},
         {"I:Set CPU affinity forVideoQueueto2", "I:Set realtime priority30forVideoQueue"}},
    };
    Verbosity verbose(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Seen seen;
        runInGThread([&] {
            setAffinity(pthread_self(), {0});
            c.tune();
            seen = {nameOf(pthread_self()), affinityOf(pthread_self()), schedulingOf(pthread_self())};
            makeNormal(pthread_self());
        });
        EXPECT_EQ(seen.name, c.expected.name);
        EXPECT_EQ(seen.cpus, c.expected.cpus);
        EXPECT_EQ(seen.scheduling, c.expected.scheduling);
        EXPECT_EQ(log.summary(), c.log);
    }
}

TEST(GthreadTuning, AnotherGlibThreadIsLeftAlone)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<pthread_t> started;
    struct Parked {
        std::shared_future<void> released;
        std::promise<pthread_t>* started;
    } parked{released, &started};
    GThread* other = g_thread_new(
        "other",
        [](gpointer data) -> gpointer {
            auto* p = static_cast<Parked*>(data);
            p->started->set_value(pthread_self());
            p->released.wait();
            return nullptr;
        },
        &parked);
    const pthread_t posix = started.get_future().get();
    setAffinity(posix, {0});

    GstreamerThreadInfo info;
    info.cpuMask = 2;
    info.priority = 49;
    info.threadName = QStringLiteral("Elsewhere");
    LogCapture log;
    setGstreamerThreadAffinityAndPriority(other, info);
    EXPECT_EQ(log.summary(), (std::vector<std::string>{"W:Cannot set CPU affinity for Elsewhere: not the calling thread",
                                                       "W:Cannot set realtime priority for Elsewhere: not the calling thread"}));
    EXPECT_EQ(nameOf(posix), "other");
    EXPECT_EQ(affinityOf(posix), Cpus{0});
    EXPECT_EQ(schedulingOf(posix), kNormal);

    release.set_value();
    g_thread_join(other);
}

// A thread tuned from inside itself keeps its priority, but what it starts afterwards does
// not inherit it: a busy helper thread would otherwise starve it on its CPU.
TEST(ThreadRealtimePriority, ThreadsStartedAfterTuningRunNormally)
{
    if (!realtimeAllowed())
        GTEST_SKIP() << "SCHED_FIFO is not permitted here";
    Scheduling tuned;
    Scheduling started;
    std::thread outer([&] {
        setThreadRealtimePriority(pthread_self(), 49, QStringLiteral("Tuned"));
        tuned = schedulingOf(pthread_self());
        // Asked of the kernel: the C library's cached view of a new thread is its parent's.
        std::thread inner([&] {
            sched_param param{};
            sched_getparam(0, &param);
            started = Scheduling{sched_getscheduler(0), param.sched_priority};
        });
        inner.join();
        makeNormal(pthread_self());
    });
    outer.join();
    EXPECT_EQ(tuned, kRender);
    EXPECT_EQ(started, kNormal);
}
