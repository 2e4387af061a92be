#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

class QLockFile;

using PeerClock = std::chrono::steady_clock;

namespace peer {
inline constexpr std::size_t ChunkSize = 4096;
inline constexpr std::size_t PendingLimit =
    64 * 1024; // stop reading while this much waits to go out
inline constexpr auto LockTouchEvery = std::chrono::seconds(10); // a QLockFile goes stale at 30
inline constexpr auto IdleLook =
    std::chrono::milliseconds(10); // between looks at a slave no one holds

// Milliseconds from now until when, for poll(); 0 when it is past.
int msUntil(PeerClock::time_point now, PeerClock::time_point when);
} // namespace peer

// One piece of what the peer sends, in the order given on the command line.
struct SendItem
{
    enum class Kind { Bytes, File, Flood };
    enum class Pattern { Random, Text, All256 };
    Kind kind = Kind::Bytes;
    std::string bytes;       // Bytes
    std::string path;        // File
    std::uint64_t count = 0; // Flood
    Pattern pattern = Pattern::Random;
};

struct PeerOptions
{
    std::string link;
    bool echo = false;
    bool demo = false;
    std::vector<SendItem> sends;
    std::uint32_t seed = 1;
    double rate = 0;       // bytes per second written, 0 = as fast as taken
    double readRate = 0;   // bytes per second read, 0 = as fast as they come
    std::size_t piece = 0; // with a rate: bytes written at once, as a UART's FIFO delivers them
    bool waitOpen = false;
    int delayMs = 0;
    std::string record;
    std::string exec;
    bool hold = false;
    enum class LockFormat { Ascii, Named, Binary, Qt };
    LockFormat holdFormat = LockFormat::Ascii;
    int holdPid = 0; // 0: the peer's own
    bool holdFlock = false;
    // Hold the device open as a terminal program would, with its own line settings, and
    // flock and/or exclusive mode: "flock+excl", "flock", "excl"; empty for none.
    std::string holdLine;
    bool exitAfterSend = false;
    int exitAfterMs = -1;
    bool stdinEofExits = false;
    int hangupAfterMs = -1;
    int reopenAfterMs = -1;
    std::string countOpens; // append a line to this file for each open of the device
};

// Spreads bytes over time like a line of a given speed; idle time earns no burst.
class Pacer
{
public:
    explicit Pacer(double bytesPerSecond, std::size_t piece = 0)
        : m_rate(bytesPerSecond), m_piece(piece)
    {
    }
    std::size_t allowance(PeerClock::time_point now);
    void spent(std::size_t n, PeerClock::time_point now);
    // When allowance() is next more than 0; now when it already is.
    PeerClock::time_point due() const { return m_due; }

private:
    double m_rate = 0;
    std::size_t m_piece = 0;
    PeerClock::time_point m_due{};
};

// The moments the run loop must wake for; a moment not set is not waited for.
struct PeerDeadlines
{
    std::optional<PeerClock::time_point> exit;        // --exit-after
    std::optional<PeerClock::time_point> hangup;      // --hangup-after, until it happened
    std::optional<PeerClock::time_point> reopen;      // --reopen-after, once hung up
    std::optional<PeerClock::time_point> touchLocks;  // keep a held lock fresh
    std::optional<PeerClock::time_point> scriptStart; // the first byte may go out
    std::optional<PeerClock::time_point> pacedRead;   // the read pacer allows more
    std::optional<PeerClock::time_point> pacedWrite;  // the write pacer allows more
    std::optional<PeerClock::time_point> lookAgain;   // nobody holds the slave, or settling

    // The one place that turns them into poll()'s timeout: -1 when there is none.
    int timeoutMs(PeerClock::time_point now) const;
};

// A lock file the peer wrote; it is removed only while it still holds what was written.
struct HeldLockFile
{
    std::string path;
    std::string content;
};

// The far end of a pseudo-terminal: what the program under test talks to.
class PtyPeer
{
public:
    explicit PtyPeer(PeerOptions options);
    ~PtyPeer();
    int run();

private:
    enum class PeerStep { Continue, Finish, Fail };
    PeerStep turn();
    bool openDevice();
    void closeDevice();
    void holdLocks();
    void pointLink();
    void probeMaster();
    void readMaster(PeerClock::time_point now);
    void writeMaster(PeerClock::time_point now);
    void received(const char *data, std::size_t n);
    void fillPending();
    bool nextChunk(std::string &out);
    bool startExec();
    void readExec();
    void writeExec();
    void reapChild();
    void endChild();
    void releaseLocks();
    void holdLine();
    void reportLine() const;
    bool sendingDone() const;
    long slaveUnread() const;
    void handleSignals();
    void watchOpens();
    void readOpens();

    PeerOptions m_opt;
    int m_master = -1;
    std::string m_slavePath;
    bool m_held = false; // someone has the slave open
    int m_signalFd = -1;
    bool m_quit = false;

    std::string m_pending; // bytes to write to the master
    std::size_t m_pendingPos = 0;
    Pacer m_writePacer;
    Pacer m_readPacer;

    std::size_t m_item = 0; // next send item
    std::uint64_t m_itemDone = 0;
    int m_fileFd = -1;
    std::mt19937 m_random;
    bool m_scriptStarted = false;
    bool m_done = false; // all was sent, waiting for the program to read it
    PeerClock::time_point m_doneSince{};

    int m_recordFd = -1;
    std::string m_demoLine;

    int m_execMaster = -1;
    int m_childPid = -1; // kept unreaped until the end, so its group id stays ours
    bool m_childEnded = false;
    bool m_execEnded = false;
    std::string m_toShell;

    std::unique_ptr<QLockFile> m_qtLock;
    std::optional<HeldLockFile> m_lockFile;
    int m_flockFd = -1;
    int m_lineFd = -1; // --hold-line
    PeerClock::time_point m_start{};
    PeerDeadlines m_deadlines;
    int m_opensFd = -1; // inotify, for --count-opens
    int m_opensRecordFd = -1;
    int m_openDescriptors = 0; // the device's, as the open and close events tell
};
