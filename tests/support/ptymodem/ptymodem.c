/*
 * A preload library for tests that run programs against pseudo-terminals.
 *
 * Modem lines: Linux pseudo-terminals refuse the modem-line and line-counter
 * requests of a real serial device (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC,
 * TIOCGICOUNT) with ENOTTY, and Wine's serial emulation then refuses
 * GetCommModemStatus and WaitCommEvent. On pseudo-terminal descriptors only,
 * this library answers them as a device whose input lines are all off and
 * which has seen no line errors; every other request and descriptor goes to
 * the real ioctl untouched.
 *
 * Write record: when DOV_WRITE_LOG names a file, every successful write() to
 * a pseudo-terminal slave is appended to it as one line
 *     <device path> <entry ns> <return ns> <bytes>
 * with CLOCK_MONOTONIC times taken as the program hands the bytes to the
 * kernel and as the kernel gives control back. Each line is one append, so
 * several processes (a Wine session) may share the file. A test can then
 * judge a program's pacing from what the program did, not from when a busy
 * machine delivered the bytes.
 *
 * Use: LD_PRELOAD=/path/libdov_ptymodem.so [DOV_WRITE_LOG=file] program
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

/* Majors of the UNIX98 pseudo-terminal slaves (/dev/pts/N). */
enum { kPtySlaveMajorFirst = 136, kPtySlaveMajorLast = 143 };

static int is_pseudo_terminal(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    const unsigned major_number = major(st.st_rdev);
    return major_number >= kPtySlaveMajorFirst && major_number <= kPtySlaveMajorLast;
}

static int is_modem_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
           request == TIOCMBIC || request == TIOCGICOUNT;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real_ioctl)(int, unsigned long, ...);
    if (!real_ioctl)
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");

    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    const int saved = errno;
    const int r = real_ioctl(fd, request, arg);
    if (r == 0 || !is_modem_request(request) || (errno != ENOTTY && errno != EINVAL) ||
        !is_pseudo_terminal(fd))
        return r;

    if (request == TIOCMGET)
        *(int *)arg = 0; /* CTS, DSR, RI and DCD all off */
    else if (request == TIOCGICOUNT)
        memset(arg, 0, sizeof(struct serial_icounter_struct));
    /* TIOCMSET/BIS/BIC: the outputs lead nowhere; accept them */
    errno = saved;
    return 0;
}

static ssize_t (*real_write)(int, const void *, size_t);
static int log_fd = -1;
static pthread_once_t setup_once = PTHREAD_ONCE_INIT;

static void setup(void)
{
    real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const char *path = getenv("DOV_WRITE_LOG");
    if (path && *path)
        log_fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

static long long now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void record(int fd, long long entry_ns, long long return_ns, ssize_t bytes)
{
    char link[32], device[128], line[256];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, device, sizeof device - 1);
    if (n <= 0)
        return;
    device[n] = '\0';
    const int length = snprintf(line, sizeof line, "%s %lld %lld %zd\n", device, entry_ns,
                                return_ns, bytes);
    if (length > 0 && (size_t)length < sizeof line)
        (void)real_write(log_fd, line, (size_t)length);
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    pthread_once(&setup_once, setup);
    if (log_fd < 0 || fd == log_fd)
        return real_write(fd, buffer, count);
    const long long entry_ns = now_ns();
    const ssize_t r = real_write(fd, buffer, count);
    const long long return_ns = now_ns();
    if (r > 0) {
        const int saved = errno;
        if (is_pseudo_terminal(fd))
            record(fd, entry_ns, return_ns, r);
        errno = saved;
    }
    return r;
}
