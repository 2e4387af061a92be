#include "terminal/screenfind.h"

#include <algorithm>
#include <array>
#include <cstring>

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

bool matchesFolded(const uchar *at, const uchar *needle, qsizetype n)
{
    for (qsizetype k = 0; k < n; ++k)
        if (fold[at[k]] != fold[needle[k]])
            return false;
    return true;
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
    const auto *h = reinterpret_cast<const uchar *>(haystack.data());
    const auto *nd = reinterpret_cast<const uchar *>(needle.data());
    const uchar first = fold[nd[0]];
    if (backward) {
        for (qsizetype i = from; i >= 0; --i)
            if (fold[h[i]] == first && matchesFolded(h + i, nd, n))
                return i;
    } else {
        for (qsizetype i = from; i <= last; ++i)
            if (fold[h[i]] == first && matchesFolded(h + i, nd, n))
                return i;
    }
    return -1;
}
