// Times Find of a 1001-character miss (1000 'a' and a 'b') in 8 and 64 MiB of 'a', with case
// ignored and matched: the worst case of a compare at every start.
#include "terminal/screenfind.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>

int main()
{
    const QByteArray needle = QByteArray(1000, 'a') + 'b';
    for (const qsizetype mib : {8, 64}) {
        const QByteArray text(mib * 1024 * 1024, 'a');
        for (const bool matchCase : {false, true}) {
            for (const bool backward : {false, true}) {
                QElapsedTimer clock;
                clock.start();
                const qsizetype at =
                    findBytes(text, needle, backward ? text.size() : 0, backward, matchCase);
                std::printf("1001-character miss in %lld MiB of 'a' (%s, %s): %.3f s%s\n",
                            (long long)mib, matchCase ? "match case" : "any case",
                            backward ? "backward" : "forward", double(clock.nsecsElapsed()) / 1e9,
                            at < 0 ? "" : " WRONG: found");
            }
        }
    }
    return 0;
}
