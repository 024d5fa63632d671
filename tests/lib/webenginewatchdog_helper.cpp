// Stands in for a web engine child process in the watchdog tests. Arguments, any order:
//   mib=N        maps N MiB of address space without touching it: the program size grows,
//                the memory actually used does not
//   ignore=TERM  ignores SIGTERM (ignore=ABRT likewise)
//   fork         starts one child of its own, a copy of itself
// Anything else only shows up in the command line. Once set up it writes
// "ready <pid of its own child, or 0>" to stdout and waits to be killed.
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    // Never outlive the test, and leave no core file behind after a SIGABRT.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_DUMPABLE, 0);

    pid_t child = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "mib=", 4) == 0) {
            const size_t bytes = size_t(std::atoi(arg + 4)) << 20;
            if (mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
                == MAP_FAILED)
                return 2;
        } else if (std::strcmp(arg, "ignore=TERM") == 0) {
            std::signal(SIGTERM, SIG_IGN);
        } else if (std::strcmp(arg, "ignore=ABRT") == 0) {
            std::signal(SIGABRT, SIG_IGN);
        } else if (std::strcmp(arg, "fork") == 0) {
            child = fork();
            if (child < 0)
                return 3;
            if (child == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                for (;;)
                    pause();
            }
        }
    }
    std::printf("ready %d\n", int(child));
    std::fflush(stdout);
    for (;;)
        pause();
}
