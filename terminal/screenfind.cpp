#include "terminal/screenfind.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

// Latin-1 lower case: A-Z and the accented capitals (not the multiplication sign).
constexpr std::array<uchar, 256> makeFold()
{
    std::array<uchar, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = uchar(c);
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = uchar(c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c)
        if (c != 0xD7)
            table[c] = uchar(c + 32);
    return table;
}

constexpr std::array<uchar, 256> fold = makeFold();

// Searches folded copies of the text a window at a time with memmem, which is linear whatever
// the needle (a byte-by-byte compare at each start took seconds for a long miss).
qsizetype findFolded(const uchar *h, qsizetype size, const uchar *needle, qsizetype n,
                     qsizetype from, bool backward)
{
    const qsizetype step = std::max<qsizetype>(64 * 1024, 4 * n);
    std::vector<uchar> window(size_t(step + n - 1));
    std::vector<uchar> key(static_cast<size_t>(n));
    for (qsizetype k = 0; k < n; ++k)
        key[size_t(k)] = fold[needle[backward ? n - 1 - k : k]];
    // Candidates are where the needle's rarest byte stands (memchr skips the rest at memory
    // speed); once their compares pass a few times the window, the window goes to memmem, which
    // is linear whatever the needle.
    std::array<qsizetype, 256> counts{};
    for (const uchar c : key)
        ++counts[c];
    qsizetype pivot = n - 1;
    for (qsizetype k = n - 1; k >= 0; --k)
        if (counts[key[size_t(k)]] < counts[key[size_t(pivot)]])
            pivot = k;
    const auto search = [&window, &key, n, pivot](qsizetype length) -> qsizetype {
        const uchar *w = window.data();
        const uchar rare = key[size_t(pivot)];
        qsizetype budget = 4 * length + n;
        for (qsizetype at = pivot; at <= length - n + pivot && budget >= 0; ++at) {
            const void *hit = memchr(w + at, rare, size_t(length - n + pivot + 1 - at));
            if (!hit)
                return -1;
            at = static_cast<const uchar *>(hit) - w;
            if (std::memcmp(w + at - pivot, key.data(), size_t(n)) == 0)
                return at - pivot;
            budget -= n;
        }
        if (budget >= 0)
            return -1;
        const void *hit = memmem(w, size_t(length), key.data(), size_t(n));
        return hit ? static_cast<const uchar *>(hit) - w : -1;
    };
    if (!backward) {
        for (qsizetype start = from; start <= size - n; start += step) {
            const qsizetype length = std::min(size, start + step + n - 1) - start;
            for (qsizetype k = 0; k < length; ++k)
                window[size_t(k)] = fold[h[start + k]];
            if (const qsizetype at = search(length); at >= 0)
                return start + at;
        }
        return -1;
    }
    // Backward: the window and the needle reversed, so the first hit is the last match.
    for (qsizetype end = from + n; end >= n; end -= step) {
        const qsizetype length = end - std::max<qsizetype>(0, end - step - n + 1);
        for (qsizetype k = 0; k < length; ++k)
            window[size_t(k)] = fold[h[end - 1 - k]];
        if (const qsizetype at = search(length); at >= 0)
            return end - at - n;
    }
    return -1;
}

} // namespace

qsizetype findBytes(QByteArrayView haystack, QByteArrayView needle, qsizetype from, bool backward,
                    bool matchCase)
{
    const qsizetype n = needle.size();
    const qsizetype last = haystack.size() - n;
    if (n == 0 || last < 0)
        return -1;
    if (backward) {
        from = std::min(from, last);
        if (from < 0)
            return -1;
        if (matchCase)
            return haystack.lastIndexOf(needle, from);
    } else {
        from = std::max<qsizetype>(from, 0);
        if (from > last)
            return -1;
        if (matchCase) {
            // glibc's memmem is several times faster here than a byte loop.
            const void *hit = memmem(haystack.data() + from, size_t(haystack.size() - from),
                                     needle.data(), size_t(n));
            return hit ? static_cast<const char *>(hit) - haystack.data() : -1;
        }
    }
    return findFolded(reinterpret_cast<const uchar *>(haystack.data()), haystack.size(),
                      reinterpret_cast<const uchar *>(needle.data()), n, from, backward);
}

qsizetype findFrom(qint64 lastMatch, qsizetype textSize, qsizetype selectionStart,
                   qsizetype selectionEnd, bool backward)
{
    const bool resume = lastMatch >= 0 && lastMatch < textSize;
    if (backward)
        return resume ? qsizetype(lastMatch) - 1 : selectionStart - 1;
    return resume ? qsizetype(lastMatch) + 1 : selectionEnd;
}

FoundAt findWrapping(QByteArrayView haystack, QByteArrayView needle, qsizetype from, bool backward,
                     bool matchCase)
{
    if (const qsizetype at = findBytes(haystack, needle, from, backward, matchCase); at >= 0)
        return {at, false};
    const qsizetype at =
        findBytes(haystack, needle, backward ? haystack.size() : 0, backward, matchCase);
    return {at, at >= 0};
}
