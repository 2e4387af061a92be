// quorpeer: the other end of a pseudo-terminal, for tests, the demo and benchmarks.
#include "ptypeer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char Usage[] =
    "usage: quorpeer [options]\n"
    "Opens a pseudo-terminal and prints its device path as the first line.\n"
    "  --link PATH          also make PATH a symlink to the device\n"
    "  --echo               write every received byte back\n"
    "  --demo               echo, plus a short answer line after each CR\n"
    "  --send STRING        send STRING (escapes \\r \\n \\t \\xHH \\\\ \\0)\n"
    "  --send-file FILE     send the bytes of FILE\n"
    "  --send-all256        send the bytes 0..255 once\n"
    "  --flood N            send N bytes of --pattern random|text|all256 (--seed S)\n"
    "  --rate BPS           send no faster than BPS bytes per second\n"
    "  --piece N            with --rate, write N bytes at a time (as a UART delivers them)\n"
    "  --read-rate BPS      read no faster than BPS bytes per second\n"
    "  --wait-open          start sending once the device is opened, then --delay MS\n"
    "  --record FILE        append every received byte to FILE\n"
    "  --exec CMD           run /bin/sh -c CMD on its own terminal, relaying both ways\n"
    "  --hold               lock the device as another program would: write the lock\n"
    "                       file LCK..NAME, where NAME is the device's real path (links\n"
    "                       resolved) without /dev/ and with / turned into _ (pts_3),\n"
    "                       in the first of /var/lock /etc/locks /var/spool/locks\n"
    "                       /var/spool/uucp /tmp /var/tmp /var/lock/lockdev /run/lock\n"
    "                       that has that file or is writable, as QSerialPort looks;\n"
    "                       no lock for a --link name. It is written\n"
    "                       whole or not at all, never over an existing one, and removed\n"
    "                       at exit only if it still holds what was written\n"
    "  --hold-format F      what the lock holds: ascii (default) the PID as ten\n"
    "                       right-aligned columns and a newline (\"      1234\\n\");\n"
    "                       named \"      1234 quorpeer USER\\n\"; binary the PID as a\n"
    "                       native 4-byte integer; qt QLockFile's \"PID\\nquorpeer\\nHOST\\n\",\n"
    "                       kept fresh every 10 s (QSerialPort honours only this one)\n"
    "  --hold-pid PID       write PID instead of the peer's own (not with qt)\n"
    "  --hold-flock         also open the device and flock(LOCK_EX) it; the peer then\n"
    "                       holds the device itself, so a program's close is not seen\n"
    "  --hold-line HOW      hold the device open as a terminal program would, at 2400\n"
    "                       baud, 7E1, canonical with echo, and with HOW: flock, excl\n"
    "                       (TIOCEXCL) or flock+excl; on SIGUSR1 print a line\n"
    "                       \"line speed=.. iflag=.. oflag=.. cflag=.. lflag=.. cc=.. excl=0|1\"\n"
    "  --exit-after-send    exit once everything is sent and read\n"
    "  --exit-after MS      exit after MS milliseconds\n"
    "  --stdin-eof-exits    exit when standard input ends\n"
    "  --hangup-after MS    close the device after MS (it vanishes)\n"
    "  --reopen-after MS    then after MS more make a new device and print its path\n"
    "  --count-opens FILE   append a line \"open\" to FILE each time the device is opened\n"
    "                       while nobody had it open\n";

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "quorpeer: %s\n%s", message.c_str(), Usage);
    std::exit(2);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string unescape(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            const int hi = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                fail("bad \\x escape in --send");
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            fail(std::string("unknown escape \\") + c + " in --send");
        }
    }
    return out;
}

long long number(const char *option, const char *text, long long min)
{
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min)
        fail(std::string("bad number for ") + option + ": " + text);
    return value;
}

int milliseconds(const char *option, const char *text)
{
    return static_cast<int>(std::min<long long>(number(option, text, 0), 1LL << 30));
}

PeerOptions parse(int argc, char **argv)
{
    PeerOptions opt;
    SendItem::Pattern pattern = SendItem::Pattern::Random;
    std::size_t firstFlood = 0;
    bool sawFlood = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                fail(name + " needs a value");
            return argv[++i];
        };
        if (name == "--help" || name == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (name == "--link") {
            opt.link = value();
        } else if (name == "--echo") {
            opt.echo = true;
        } else if (name == "--demo") {
            opt.demo = true;
        } else if (name == "--send") {
            opt.sends.push_back({SendItem::Kind::Bytes, unescape(value()), {}, 0, {}});
        } else if (name == "--send-file") {
            opt.sends.push_back({SendItem::Kind::File, {}, value(), 0, {}});
        } else if (name == "--send-all256") {
            std::string all(256, '\0');
            for (int b = 0; b < 256; ++b)
                all[b] = static_cast<char>(b);
            opt.sends.push_back({SendItem::Kind::Bytes, all, {}, 0, {}});
        } else if (name == "--flood") {
            const auto n = static_cast<std::uint64_t>(number("--flood", value(), 0));
            if (!sawFlood)
                firstFlood = opt.sends.size();
            sawFlood = true;
            opt.sends.push_back({SendItem::Kind::Flood, {}, {}, n, {}});
        } else if (name == "--pattern") {
            const std::string p = value();
            if (p == "random")
                pattern = SendItem::Pattern::Random;
            else if (p == "text")
                pattern = SendItem::Pattern::Text;
            else if (p == "all256")
                pattern = SendItem::Pattern::All256;
            else
                fail("unknown pattern " + p);
        } else if (name == "--seed") {
            opt.seed = static_cast<std::uint32_t>(number("--seed", value(), 0));
        } else if (name == "--rate") {
            opt.rate = static_cast<double>(number("--rate", value(), 1));
        } else if (name == "--piece") {
            opt.piece = static_cast<std::size_t>(number("--piece", value(), 1));
        } else if (name == "--read-rate") {
            opt.readRate = static_cast<double>(number("--read-rate", value(), 1));
        } else if (name == "--wait-open") {
            opt.waitOpen = true;
        } else if (name == "--delay") {
            opt.delayMs = milliseconds("--delay", value());
        } else if (name == "--record") {
            opt.record = value();
        } else if (name == "--exec") {
            opt.exec = value();
        } else if (name == "--hold") {
            opt.hold = true;
        } else if (name == "--hold-format") {
            const std::string f = value();
            if (f == "ascii")
                opt.holdFormat = PeerOptions::LockFormat::Ascii;
            else if (f == "named")
                opt.holdFormat = PeerOptions::LockFormat::Named;
            else if (f == "binary")
                opt.holdFormat = PeerOptions::LockFormat::Binary;
            else if (f == "qt")
                opt.holdFormat = PeerOptions::LockFormat::Qt;
            else
                fail("unknown lock format " + f);
            opt.hold = true;
        } else if (name == "--hold-pid") {
            opt.holdPid =
                static_cast<int>(std::min<long long>(number("--hold-pid", value(), 1), 0x7fffffff));
            opt.hold = true;
        } else if (name == "--hold-flock") {
            opt.holdFlock = true;
            opt.hold = true;
        } else if (name == "--hold-line") {
            opt.holdLine = value();
            if (opt.holdLine != "flock" && opt.holdLine != "excl" && opt.holdLine != "flock+excl")
                fail("unknown --hold-line " + opt.holdLine);
        } else if (name == "--exit-after-send") {
            opt.exitAfterSend = true;
        } else if (name == "--exit-after") {
            opt.exitAfterMs = milliseconds("--exit-after", value());
        } else if (name == "--stdin-eof-exits") {
            opt.stdinEofExits = true;
        } else if (name == "--hangup-after") {
            opt.hangupAfterMs = milliseconds("--hangup-after", value());
        } else if (name == "--count-opens") {
            opt.countOpens = value();
        } else if (name == "--reopen-after") {
            opt.reopenAfterMs = milliseconds("--reopen-after", value());
        } else {
            fail("unknown option " + name);
        }
    }
    // --pattern may come before or after --flood; it applies to every flood.
    for (std::size_t i = firstFlood; sawFlood && i < opt.sends.size(); ++i)
        opt.sends[i].pattern = pattern;
    return opt;
}

} // namespace

int main(int argc, char **argv)
{
    PtyPeer peer(parse(argc, argv));
    return peer.run();
}
