#pragma once

#include <QtGlobal>

#include <cstring>
#include <type_traits>

// Bytes in one contiguous run whose oldest part can be dropped in time proportional to what goes.
// The run lives in a reservation of address space several times larger than it is expected to
// get, in blocks: it grows at the end, whole blocks that fall off the front are moved by mremap
// (page tables, not bytes) to serve again at the end, and when the end of the reservation comes
// near, the live blocks are moved back to its front the same way. Where the reservation cannot be
// had, a plain heap buffer takes over, whose front is dropped by moving the rest. A rest of at
// most 1 MiB is moved too: that costs less than the calls.
class SlidingBuffer
{
public:
    SlidingBuffer() = default;
    ~SlidingBuffer();
    SlidingBuffer(const SlidingBuffer &other);
    SlidingBuffer &operator=(const SlidingBuffer &other);
    SlidingBuffer(SlidingBuffer &&other) noexcept;
    SlidingBuffer &operator=(SlidingBuffer &&other) noexcept;

    // The most the buffer is expected to hold; sets the size of its blocks and reservation.
    void setExpected(qint64 bytes);
    qint64 blockSize() const { return m_block; }

    char *data() { return m_base + m_begin; }
    const char *data() const { return m_base + m_begin; }
    qint64 size() const { return m_end - m_begin; }

    // None of these may be given bytes of the buffer itself.
    void append(const void *bytes, qint64 count)
    {
        if (count <= 0)
            return;
        if (m_end + count > m_committed)
            makeRoom(count);
        std::memcpy(m_base + m_end, bytes, size_t(count));
        m_end += count;
    }
    void insert(qint64 pos, const void *bytes, qint64 count);
    void remove(qint64 pos, qint64 count);
    // Growing leaves the new bytes undefined.
    void resize(qint64 count);
    // Drops the oldest count bytes; of the blocks that fall off, up to spareAllowance bytes are
    // kept for the buffer to grow into (their pages stay in memory), the rest go back.
    void dropFront(qint64 count, qint64 spareAllowance);
    // Memory held beyond the end for growth.
    qint64 spare() const;
    // Gives back spare memory beyond allowance.
    void releaseSpare(qint64 allowance);
    // Empty, all memory given back.
    void clear();
    // Whether the reservation is in use (not the heap buffer).
    bool reserved() const { return m_base && !m_heap; }

    // For tests: reservations of this many bytes (0: as expected), and every mapping call failing.
    static void setTestReservation(qint64 bytes);
    static void setTestMapFailure(bool fail);

private:
    void makeRoom(qint64 count);
    bool reserve(qint64 bytes);
    bool relocate(qint64 count);
    bool moveBlock(char *from, char *to) const;
    bool unreserve(char *at, qint64 bytes) const;
    void toHeap(const char *why);
    void useHeap(char *heap, qint64 length, const char *why);
    void release();

    char *m_base = nullptr;
    qint64 m_reserved = 0; // bytes of address space, or the heap buffer's capacity
    qint64 m_first = 0;    // the first block still mapped for use, block-aligned
    qint64 m_begin = 0;
    qint64 m_end = 0;
    qint64 m_committed = 0; // end of the usable blocks, block-aligned
    qint64 m_block = 4096;
    qint64 m_moveBelow = 1024 * 1024; // a rest this small is moved, not remapped around
    qint64 m_expected = 64 * 1024 * 1024;
    bool m_heap = false;
};

// The same for an array of a trivially copyable type whose size divides the block size.
template <typename T> class SlidingArray
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    void setExpected(qint64 bytes) { m_bytes.setExpected(bytes); }
    T *data() { return reinterpret_cast<T *>(m_bytes.data()); }
    const T *data() const { return reinterpret_cast<const T *>(m_bytes.data()); }
    qsizetype size() const { return qsizetype(m_bytes.size() / qint64(sizeof(T))); }
    T &operator[](qsizetype i) { return data()[i]; }
    const T &operator[](qsizetype i) const { return data()[i]; }
    const T *cbegin() const { return data(); }
    const T *cend() const { return data() + size(); }
    void append(const T &value) { m_bytes.append(&value, sizeof(T)); }
    void resize(qsizetype count) { m_bytes.resize(qint64(count) * qint64(sizeof(T))); }
    void dropFront(qsizetype count, qint64 spareAllowance)
    {
        m_bytes.dropFront(qint64(count) * qint64(sizeof(T)), spareAllowance);
    }
    qint64 spare() const { return m_bytes.spare(); }
    void releaseSpare(qint64 allowance) { m_bytes.releaseSpare(allowance); }
    void clear() { m_bytes.clear(); }
    bool reserved() const { return m_bytes.reserved(); }

private:
    SlidingBuffer m_bytes;
};
