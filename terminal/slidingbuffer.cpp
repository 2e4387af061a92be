#include "terminal/slidingbuffer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {

std::atomic<qint64> testReservation = 0;
std::atomic<bool> testFailure = false;

constexpr int ReserveFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;

qint64 roundUp(qint64 value, qint64 unit)
{
    return (value + unit - 1) / unit * unit;
}

qint64 roundDown(qint64 value, qint64 unit)
{
    return value / unit * unit;
}

bool failing()
{
    if (testFailure)
        errno = ENOMEM;
    return testFailure;
}

// Address space for bytes, aligned to 2 MiB so that moving a block moves whole page-table
// entries of the level above pages; null when refused.
char *mapReservation(qint64 bytes)
{
    constexpr qint64 Align = 2 * 1024 * 1024;
    void *p = failing() ? MAP_FAILED
                        : mmap(nullptr, size_t(bytes + Align), PROT_NONE, ReserveFlags, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    auto *start = static_cast<char *>(p);
    char *aligned = start + (Align - qint64(reinterpret_cast<quintptr>(start) % Align)) % Align;
    if (aligned > start)
        munmap(start, size_t(aligned - start));
    if (start + Align > aligned)
        munmap(aligned + bytes, size_t(start + Align - aligned));
    return aligned;
}

} // namespace

void SlidingBuffer::setTestReservation(qint64 bytes)
{
    testReservation = bytes;
}

void SlidingBuffer::setTestMapFailure(bool fail)
{
    testFailure = fail;
}

SlidingBuffer::~SlidingBuffer()
{
    release();
}

SlidingBuffer::SlidingBuffer(const SlidingBuffer &other)
    : m_block(other.m_block), m_moveBelow(other.m_moveBelow), m_expected(other.m_expected)
{
    append(other.data(), other.size());
}

SlidingBuffer &SlidingBuffer::operator=(const SlidingBuffer &other)
{
    if (this != &other) {
        SlidingBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

SlidingBuffer::SlidingBuffer(SlidingBuffer &&other) noexcept
{
    *this = std::move(other);
}

SlidingBuffer &SlidingBuffer::operator=(SlidingBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        m_base = std::exchange(other.m_base, nullptr);
        m_reserved = std::exchange(other.m_reserved, 0);
        m_first = std::exchange(other.m_first, 0);
        m_begin = std::exchange(other.m_begin, 0);
        m_end = std::exchange(other.m_end, 0);
        m_committed = std::exchange(other.m_committed, 0);
        m_block = other.m_block;
        m_moveBelow = other.m_moveBelow;
        m_expected = other.m_expected;
        m_heap = std::exchange(other.m_heap, false);
    }
    return *this;
}

void SlidingBuffer::setExpected(qint64 bytes)
{
    m_expected = std::max<qint64>(bytes, 1);
    if (m_base)
        return; // the blocks in use keep their size
    // Some tens of blocks, so that a trim or a move back to the front takes few calls; pages
    // under a test's small reservation.
    const qint64 page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
    qint64 block = testReservation > 0 ? page : std::max<qint64>(page, 64 * 1024);
    while (testReservation == 0 && block < m_expected / 64 && block < 4 * 1024 * 1024)
        block *= 2;
    m_block = block;
    m_moveBelow = testReservation > 0 ? 0 : 1024 * 1024;
}

void SlidingBuffer::release()
{
    if (m_heap)
        std::free(m_base);
    else if (m_base)
        munmap(m_base, size_t(m_reserved));
    m_base = nullptr;
    m_heap = false;
    m_reserved = m_first = m_begin = m_end = m_committed = 0;
}

void SlidingBuffer::clear()
{
    release();
}

qint64 SlidingBuffer::spare() const
{
    return m_heap ? 0 : m_committed - std::max(roundUp(m_end, m_block), m_first);
}

void SlidingBuffer::insert(qint64 pos, const void *bytes, qint64 count)
{
    if (count <= 0)
        return;
    if (m_end + count > m_committed)
        makeRoom(count);
    char *at = data() + pos;
    std::memmove(at + count, at, size_t(size() - pos));
    std::memcpy(at, bytes, size_t(count));
    m_end += count;
}

void SlidingBuffer::remove(qint64 pos, qint64 count)
{
    if (count <= 0)
        return;
    char *at = data() + pos;
    std::memmove(at, at + count, size_t(size() - pos - count));
    m_end -= count;
}

void SlidingBuffer::resize(qint64 count)
{
    if (count > size() && m_begin + count > m_committed)
        makeRoom(count - size());
    m_end = m_begin + count;
}

void SlidingBuffer::dropFront(qint64 count, qint64 spareAllowance)
{
    count = std::min(count, size());
    if (count <= 0)
        return;
    if (m_heap) {
        std::memmove(m_base, m_base + count, size_t(size() - count));
        m_end -= count;
        return;
    }
    const qint64 kept = size() - count;
    if (kept <= m_moveBelow) {
        // A small rest costs less to move than the calls that would remap around it.
        std::memmove(m_base + m_first, data() + count, size_t(kept));
        m_begin = m_first;
        m_end = m_first + kept;
        return;
    }
    m_begin += count;
    // Whole blocks before the first byte kept: moved to the end to be written again (no page
    // faults, no zeroing), or given back once enough are spare.
    while (m_first + m_block <= m_begin) {
        char *block = m_base + m_first;
        if (spare() + m_block <= spareAllowance && m_committed + m_block <= m_reserved) {
            if (!moveBlock(block, m_base + m_committed)) {
                m_first += m_block; // already gone from here
                toHeap("mremap");
                return;
            }
            m_committed += m_block;
        } else if (!unreserve(block, m_block)) {
            toHeap("mmap");
            return;
        }
        m_first += m_block;
    }
}

void SlidingBuffer::releaseSpare(qint64 allowance)
{
    if (m_heap || !m_base)
        return;
    const qint64 keepEnd = std::max(
        roundUp(m_end, m_block) + roundDown(std::max<qint64>(allowance, 0), m_block), m_first);
    if (keepEnd >= m_committed)
        return;
    if (!unreserve(m_base + keepEnd, m_committed - keepEnd)) {
        toHeap("mmap");
        return;
    }
    m_committed = keepEnd;
}

// Turns blocks back into reserved address space, giving their pages back.
bool SlidingBuffer::unreserve(char *at, qint64 bytes) const
{
    return !failing() &&
           mmap(at, size_t(bytes), PROT_NONE, ReserveFlags | MAP_FIXED, -1, 0) != MAP_FAILED;
}

// Moves one block's pages to another place in the reservation, whose old place is reserved again
// so that nothing else is mapped there.
bool SlidingBuffer::moveBlock(char *from, char *to) const
{
    if (failing() || mremap(from, size_t(m_block), size_t(m_block), MREMAP_MAYMOVE | MREMAP_FIXED,
                            to) == MAP_FAILED)
        return false;
    return unreserve(from, m_block);
}

bool SlidingBuffer::reserve(qint64 bytes)
{
    char *p = mapReservation(bytes);
    if (!p)
        return false;
    m_base = p;
    m_reserved = bytes;
    m_first = m_begin = m_end = m_committed = 0;
    return true;
}

void SlidingBuffer::makeRoom(qint64 count)
{
    const qint64 needed = size() + count;
    if (m_heap) {
        if (needed <= m_reserved)
            return;
        // Double, but past the expected size only as far as needed: a long session never needs
        // a second buffer of that size.
        const qint64 grown =
            std::max(needed, std::min(2 * m_reserved, std::max(needed, m_expected)));
        void *p = std::realloc(m_base, size_t(grown));
        if (!p)
            throw std::bad_alloc();
        m_base = static_cast<char *>(p);
        m_reserved = grown;
        m_committed = grown;
        return;
    }
    if (!m_base) {
        const qint64 test = testReservation;
        // Address space is cheap: a small screen gets room for long before its first move.
        const qint64 wanted =
            std::max<qint64>(std::max(8 * m_expected, 8 * needed) + 8 * m_block, 256 * 1024 * 1024);
        const qint64 bytes = roundUp(test > 0 ? test : wanted, m_block);
        if (!reserve(std::max(bytes, 4 * m_block))) {
            toHeap("mmap");
            makeRoom(count);
            return;
        }
    }
    if (m_end + count > m_reserved && !relocate(count)) {
        makeRoom(count);
        return;
    }
    const qint64 committed = roundUp(m_end + count, m_block);
    if (committed > m_committed) {
        if (failing() || mprotect(m_base + m_committed, size_t(committed - m_committed),
                                  PROT_READ | PROT_WRITE) != 0) {
            toHeap("mprotect");
            makeRoom(count);
            return;
        }
        m_committed = committed;
    }
}

// Moves the live blocks to the front of the reservation, or of a larger one when they would
// not fit there with count more bytes. False when it failed and the heap buffer took over.
bool SlidingBuffer::relocate(qint64 count)
{
    const qint64 blocks = m_committed - m_first;
    const qint64 needed = roundUp(std::max(m_end - m_first + count, blocks), m_block);
    char *from = m_base + m_first;
    char *to = m_base;
    // Moving back to the front pays only while the blocks take at most half the reservation;
    // beyond that the next move would come too soon.
    const bool inPlace = m_first > 0 && 2 * needed <= m_reserved;
    const qint64 newReserved =
        inPlace ? m_reserved : roundUp(std::max(2 * m_reserved, 8 * needed), m_block);
    if (!inPlace) {
        to = mapReservation(newReserved);
        if (!to) {
            toHeap("mmap");
            return false;
        }
    }
    // In order from the front: a block moved into a place that overlaps the old range only
    // lands where a block already left.
    for (qint64 at = 0; at < blocks; at += m_block) {
        if (!moveBlock(from + at, to + at)) {
            // The blocks before this one are at their new place, the rest at the old.
            const qint64 begin = m_begin - m_first;
            const qint64 length = size();
            auto *heap = static_cast<char *>(std::malloc(size_t(std::max<qint64>(length, 1))));
            if (!heap)
                throw std::bad_alloc();
            const qint64 split = std::clamp(at, begin, begin + length);
            std::memcpy(heap, to + begin, size_t(split - begin));
            std::memcpy(heap + (split - begin), from + split, size_t(begin + length - split));
            if (!inPlace)
                munmap(to, size_t(newReserved));
            useHeap(heap, length, "mremap");
            return false;
        }
    }
    if (!inPlace) {
        munmap(m_base, size_t(m_reserved));
        m_base = to;
        m_reserved = newReserved;
    }
    m_begin -= m_first;
    m_end -= m_first;
    m_committed -= m_first;
    m_first = 0;
    return true;
}

// The plain heap buffer takes over from the reservation.
void SlidingBuffer::toHeap(const char *why)
{
    const qint64 length = size();
    auto *heap = static_cast<char *>(std::malloc(size_t(std::max<qint64>(length, 1))));
    if (!heap)
        throw std::bad_alloc();
    if (length > 0)
        std::memcpy(heap, data(), size_t(length));
    useHeap(heap, length, why);
}

// Said once on standard error: the window may pause when the screen is full.
void SlidingBuffer::useHeap(char *heap, qint64 length, const char *why)
{
    const int error = errno;
    static std::atomic<bool> told = false;
    if (!told.exchange(true))
        std::fprintf(stderr,
                     "quorline: the screen cannot map its memory (%s: %s); old rows are dropped by "
                     "moving the rest, which may pause the window\n",
                     why, std::strerror(error));
    release();
    m_base = heap;
    m_heap = true;
    m_reserved = m_committed = std::max<qint64>(length, 1);
    m_end = length;
}
