/* Samples a few pixels of an Xvfb screen kept as a memory-mapped XWD file (Xvfb -fbdir)
 * and records every change with a CLOCK_MONOTONIC time stamp.
 *
 *   fbsample [options] XWD-FILE [-- command args...]
 *
 *   --out FILE        change records, one line each: "<ns> <sample number> <rrggbb> ..." (one
 *                     colour per point, the centre first), after a line
 *                     "# clock <CLOCK_REALTIME ns> <CLOCK_MONOTONIC ns>" and before a last line
 *                     "# end <ns> <samples>"; default standard output
 *   --interval-us N   pause between samples (default 250)
 *   --until RRGGBB    stop once the centre shows this colour
 *   --timeout S       stop after S seconds (default: never)
 *   --realtime N      sample with SCHED_FIFO priority N, so busy real-time threads of the
 *                     program under test cannot hold the sampling back (the command keeps
 *                     the normal policy)
 *   -- command...     start the command first (time 0 is taken just before fork) and, on
 *                     stopping, end it with SIGTERM (SIGKILL after 10 s)
 *
 * Stops on SIGTERM/SIGINT too. On stopping it prints one summary line on standard error:
 *   "fbsample: samples N seconds S rate HZ max-interval-us U long-pauses L [reached-ms T]"
 * where L counts pauses between samples over 8 ms, long enough to hide half a frame at 60 Hz.
 * The points are the centre and the centres of the four quarters of the screen, so a frame
 * copied half way (old colour at the top, new at the bottom) shows as disagreeing points.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define NPOINTS 5

static volatile sig_atomic_t stopRequested = 0;

static void onSignal(int sig)
{
    (void)sig;
    stopRequested = 1;
}

static int64_t nowNs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static uint32_t be32(const unsigned char* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

static void usage(void)
{
    fprintf(stderr, "usage: fbsample [--out FILE] [--interval-us N] [--until RRGGBB] [--timeout S] [--realtime N] "
                    "XWD-FILE [-- command args...]\n");
    exit(2);
}

int main(int argc, char** argv)
{
    const char* outPath = NULL;
    const char* fbPath = NULL;
    long intervalUs = 250;
    long until = -1;
    double timeout = -1;
    int realtime = 0;
    char** command = NULL;

    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--out") && i + 1 < argc)
            outPath = argv[++i];
        else if (!strcmp(argv[i], "--interval-us") && i + 1 < argc)
            intervalUs = strtol(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--until") && i + 1 < argc)
            until = strtol(argv[++i], NULL, 16);
        else if (!strcmp(argv[i], "--realtime") && i + 1 < argc)
            realtime = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--timeout") && i + 1 < argc)
            timeout = strtod(argv[++i], NULL);
        else if (!strcmp(argv[i], "--")) {
            command = argv + i + 1;
            if (!*command)
                usage();
            break;
        } else if (argv[i][0] == '-' || fbPath)
            usage();
        else
            fbPath = argv[i];
    }
    if (!fbPath)
        usage();

    int fd = open(fbPath, O_RDONLY);
    if (fd < 0) {
        fprintf(stderr, "fbsample: %s: %s\n", fbPath, strerror(errno));
        return 1;
    }
    struct stat st;
    fstat(fd, &st);
    const unsigned char* map = mmap(NULL, st.st_size, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED || st.st_size < 100) {
        fprintf(stderr, "fbsample: cannot map %s\n", fbPath);
        return 1;
    }
    /* XWD header: 25 big-endian 32-bit fields, the window name, then ncolors 12-byte colour
     * entries, then the pixels. */
    const uint32_t headerSize = be32(map + 0);
    const uint32_t width = be32(map + 16), height = be32(map + 20);
    const uint32_t byteOrder = be32(map + 28);
    const uint32_t bitsPerPixel = be32(map + 44), bytesPerLine = be32(map + 48);
    const uint32_t ncolors = be32(map + 76);
    const size_t pixels = (size_t)headerSize + (size_t)ncolors * 12;
    if (bitsPerPixel != 32 || pixels + (size_t)bytesPerLine * height > (size_t)st.st_size) {
        fprintf(stderr, "fbsample: unsupported screen layout (bpp %u)\n", bitsPerPixel);
        return 1;
    }
    const uint32_t xs[NPOINTS] = {width / 2, width / 4, width * 3 / 4, width / 4, width * 3 / 4};
    const uint32_t ys[NPOINTS] = {height / 2, height / 4, height / 4, height * 3 / 4, height * 3 / 4};
    const volatile uint32_t* at[NPOINTS];
    for (int p = 0; p < NPOINTS; ++p)
        at[p] = (const volatile uint32_t*)(map + pixels + (size_t)ys[p] * bytesPerLine + (size_t)xs[p] * 4);

    FILE* out = outPath ? fopen(outPath, "w") : stdout;
    if (!out) {
        fprintf(stderr, "fbsample: %s: %s\n", outPath, strerror(errno));
        return 1;
    }
    setvbuf(out, NULL, _IOFBF, 1 << 20);
    /* The default 50 us slack would stretch every pause. */
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    struct timespec real;
    clock_gettime(CLOCK_REALTIME, &real);
    fprintf(out, "# clock %lld %lld\n", (long long)real.tv_sec * 1000000000 + real.tv_nsec, (long long)nowNs());

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    const int64_t start = nowNs();
    pid_t child = -1;
    if (command) {
        child = fork();
        if (child == 0) {
            signal(SIGTERM, SIG_DFL);
            signal(SIGINT, SIG_DFL);
            execvp(command[0], command);
            fprintf(stderr, "fbsample: cannot run %s: %s\n", command[0], strerror(errno));
            _exit(127);
        }
    }

    if (realtime > 0) {
        struct sched_param param = {.sched_priority = realtime};
        if (sched_setscheduler(0, SCHED_FIFO, &param) != 0)
            fprintf(stderr, "fbsample: no real-time priority (%s); sampling may stall\n", strerror(errno));
    }

    uint32_t last[NPOINTS];
    memset(last, 0xff, sizeof last);
    uint64_t samples = 0;
    int64_t previous = start, maxInterval = 0, reached = -1;
    uint64_t longPauses = 0;
    const struct timespec pause = {0, intervalUs * 1000};
    while (!stopRequested) {
        uint32_t now[NPOINTS];
        for (int p = 0; p < NPOINTS; ++p) {
            uint32_t v = *at[p];
            if (byteOrder != 0) /* MSBFirst: bytes are X R G B in memory */
                v = __builtin_bswap32(v);
            now[p] = v & 0xFFFFFF;
        }
        const int64_t t = nowNs();
        ++samples;
        if (t - previous > maxInterval)
            maxInterval = t - previous;
        if (t - previous > 8000000)
            ++longPauses;
        previous = t;
        if (memcmp(now, last, sizeof now)) {
            fprintf(out, "%lld %llu", (long long)t, (unsigned long long)(samples - 1));
            for (int p = 0; p < NPOINTS; ++p)
                fprintf(out, " %06x", now[p]);
            fputc('\n', out);
            memcpy(last, now, sizeof now);
        }
        if (until >= 0 && now[0] == (uint32_t)until) {
            reached = t - start;
            break;
        }
        if (timeout >= 0 && t - start > (int64_t)(timeout * 1e9))
            break;
        if (child > 0 && waitpid(child, NULL, WNOHANG) == child) {
            child = -1;
            break;
        }
        nanosleep(&pause, NULL);
    }
    const int64_t end = nowNs();
    fprintf(out, "# end %lld %llu\n", (long long)previous, (unsigned long long)samples);
    fflush(out);

    if (child > 0) {
        kill(child, SIGTERM);
        int waited = 0;
        while (waitpid(child, NULL, WNOHANG) == 0) {
            if (++waited == 1000)
                kill(child, SIGKILL);
            usleep(10000);
        }
    }
    const double seconds = (end - start) / 1e9;
    fprintf(stderr, "fbsample: samples %llu seconds %.3f rate %.0f max-interval-us %lld long-pauses %llu",
            (unsigned long long)samples, seconds, seconds > 0 ? samples / seconds : 0.0, (long long)(maxInterval / 1000),
            (unsigned long long)longPauses);
    if (reached >= 0)
        fprintf(stderr, " reached-ms %.1f", reached / 1e6);
    fputc('\n', stderr);
    return reached >= 0 || until < 0 ? 0 : 3;
}
