// Lends pseudo-terminals modem lines and a break, for tests (LD_PRELOAD). A pty answers
// TIOCMGET with an error and ignores a break, and real serial devices are not for tests.
// For pty slaves only: the outputs (DTR, RTS) and breaks are appended to $QUORLINE_MODEM_FILE
// as "<monotonic ms> DTR 1" lines; the inputs asserted are the names in $QUORLINE_MODEM_FILE.in
// ("CTS DCD"). With $QUORLINE_MODEM_ROUND=N, a rate set in bits per second is rounded to a
// multiple of N, as a device that cannot run it would. With $QUORLINE_MODEM_FAIL=ERRNO the
// modem-line and break requests fail with that error (5, EIO: the device is gone). Everything
// else goes to the kernel.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <dlfcn.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

int g_outputs = TIOCM_DTR | TIOCM_RTS; // as a UART raises them on open

bool isPtySlave(int fd)
{
    struct stat st
    {
    };
    constexpr unsigned FirstPtyMajor = 136;
    constexpr unsigned LastPtyMajor = 143;
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= FirstPtyMajor &&
           major(st.st_rdev) <= LastPtyMajor;
}

void record(const char *what, int on)
{
    const char *path = std::getenv("QUORLINE_MODEM_FILE");
    if (path == nullptr)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    if (std::FILE *file = std::fopen(path, "a")) {
        std::fprintf(file, "%.3f %s %d\n", double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6,
                     what, on);
        std::fclose(file);
    }
}

void setOutputs(int bits)
{
    const int changed = bits ^ g_outputs;
    g_outputs = bits & (TIOCM_DTR | TIOCM_RTS);
    if (changed & TIOCM_DTR)
        record("DTR", (g_outputs & TIOCM_DTR) != 0);
    if (changed & TIOCM_RTS)
        record("RTS", (g_outputs & TIOCM_RTS) != 0);
}

int inputs()
{
    const char *path = std::getenv("QUORLINE_MODEM_FILE");
    if (path == nullptr)
        return 0;
    char name[4096];
    std::snprintf(name, sizeof name, "%s.in", path);
    std::FILE *file = std::fopen(name, "r");
    if (file == nullptr)
        return 0;
    char text[256] = {};
    const size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[size] = '\0';
    int bits = 0;
    if (std::strstr(text, "CTS") != nullptr)
        bits |= TIOCM_CTS;
    if (std::strstr(text, "DSR") != nullptr)
        bits |= TIOCM_DSR;
    if (std::strstr(text, "DCD") != nullptr)
        bits |= TIOCM_CAR;
    if (std::strstr(text, "RI") != nullptr)
        bits |= TIOCM_RNG;
    return bits;
}

void roundRate(termios2 *tio)
{
    const char *round = std::getenv("QUORLINE_MODEM_ROUND");
    const long step = round != nullptr ? std::strtol(round, nullptr, 10) : 0;
    if (step <= 0 || (tio->c_cflag & CBAUD) != BOTHER)
        return;
    tio->c_ospeed = speed_t((tio->c_ospeed + step / 2) / step * step);
    tio->c_ispeed = tio->c_ospeed;
}

} // namespace

extern "C" {

// Tells a test that the library is loaded.
int quorline_modem_shim = 1;

int ioctl(int fd, unsigned long request, ...) noexcept
{
    static const auto real = reinterpret_cast<IoctlFunction>(::dlsym(RTLD_NEXT, "ioctl"));
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (!isPtySlave(fd))
        return real(fd, request, arg);
    const char *fail = std::getenv("QUORLINE_MODEM_FAIL");
    const bool lineRequest = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                             request == TIOCMBIC || request == TIOCSBRK || request == TIOCCBRK;
    if (fail != nullptr && lineRequest) {
        errno = int(std::strtol(fail, nullptr, 10));
        return -1;
    }
    switch (request) {
    case TIOCMGET:
        *static_cast<int *>(arg) = g_outputs | inputs();
        return 0;
    case TIOCMSET:
        setOutputs(*static_cast<int *>(arg));
        return 0;
    case TIOCMBIS:
        setOutputs(g_outputs | *static_cast<int *>(arg));
        return 0;
    case TIOCMBIC:
        setOutputs(g_outputs & ~*static_cast<int *>(arg));
        return 0;
    case TIOCSBRK:
        record("BREAK", 1);
        return 0;
    case TIOCCBRK:
        record("BREAK", 0);
        return 0;
    case TCSBRK:
    case TCSBRKP:
        if (arg == nullptr) { // a timed break of about 250 ms
            record("BREAK", 1);
            record("BREAK", 0);
        }
        return real(fd, request, arg);
    case TCSETS2:
    case TCSETSW2:
    case TCSETSF2: {
        termios2 tio = *static_cast<termios2 *>(arg);
        roundRate(&tio);
        return real(fd, request, &tio);
    }
    default:
        return real(fd, request, arg);
    }
}

// A UART's outputs come up again with the next open.
int close(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "close"));
    if (isPtySlave(fd))
        g_outputs = TIOCM_DTR | TIOCM_RTS;
    return real(fd);
}

} // extern "C"
