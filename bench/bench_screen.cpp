// Appending speed, flatness, memory and repaint time of the terminal screen, with
// QPlainTextEdit as the baseline, and Find of a match at the very end. Usage: bench_screen
// [--mb N] [--baseline-seconds S]; QUORLINE_SCREEN_LIMIT (MiB) below --mb shows the trims.
#include "measure.h"
#include "terminal/screenfind.h"
#include "widgets/screen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <cstdio>
#include <functional>

namespace {

constexpr qsizetype MB = 1024 * 1024;

enum class Pattern { Lines, NoBreaks, RandomBytes };

// 1 MB of source text, read round and round.
QByteArray sourceText(Pattern pattern)
{
    QRandomGenerator rng(1);
    QByteArray text;
    text.reserve(MB + 128);
    qsizetype lineLength = 0;
    while (text.size() < MB) {
        if (pattern == Pattern::RandomBytes) {
            text.append(char(rng.bounded(256)));
            continue;
        }
        const int word = rng.bounded(1, 10);
        for (int i = 0; i < word; ++i)
            text.append(char('a' + rng.bounded(26)));
        text.append(' ');
        lineLength += word + 1;
        if (lineLength > 70) {
            text.append(pattern == Pattern::Lines ? QByteArray("\r\n") : QByteArray("[CR][LF]"));
            lineLength = 0;
        }
    }
    text.truncate(MB);
    return text;
}

struct Run
{
    qsizetype bytes = 0;
    double seconds = 0;
    double secondsTo1 = 0, secondsTo10 = 0, secondsTo100 = 0;
    double first10 = 0, last10 = 0;
    qint64 residentGrowth = 0;
    int paints = 0;
    double cpuSeconds = 0;
};

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Appends piece after piece as the receive display does, running the event loop every
// millisecond so that repaints happen as they would in the program.
Run appendRun(QWidget *view, const std::function<void(QByteArrayView)> &appendPiece,
              const QByteArray &source, qsizetype piece, qsizetype total, double capSeconds)
{
    PaintCounter counter;
    view->installEventFilter(&counter);
    QCoreApplication::processEvents();
    const qint64 residentBefore = residentBytes();
    Run run;
    QElapsedTimer clock;
    QElapsedTimer tick;
    const double cpuStart = cpuSeconds();
    clock.start();
    tick.start();
    double tenMark = 0;
    qsizetype offset = 0;
    while (run.bytes < total) {
        appendPiece(QByteArrayView(source).sliced(offset, piece));
        offset = (offset + piece) % source.size();
        const qsizetype before = run.bytes;
        run.bytes += piece;
        if (tick.nsecsElapsed() >= 1000000) {
            QCoreApplication::processEvents();
            tick.restart();
        }
        const double now = clock.nsecsElapsed() / 1e9;
        if (before < MB && run.bytes >= MB)
            run.secondsTo1 = now;
        if (before / (10 * MB) != run.bytes / (10 * MB)) {
            if (run.bytes <= 10 * MB)
                run.first10 = now;
            run.last10 = now - tenMark;
            tenMark = now;
        }
        if (before < 10 * MB && run.bytes >= 10 * MB)
            run.secondsTo10 = now;
        if (before < 100 * MB && run.bytes >= 100 * MB)
            run.secondsTo100 = now;
        if (capSeconds > 0 && now > capSeconds)
            break;
    }
    QCoreApplication::processEvents();
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.cpuSeconds = cpuSeconds() - cpuStart;
    run.residentGrowth = residentBytes() - residentBefore;
    run.paints = counter.paints;
    view->removeEventFilter(&counter);
    return run;
}

double mbPerSecond(qsizetype bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / MB / seconds : 0;
}

void printRun(const char *who, const char *pattern, qsizetype piece, const Run &r)
{
    std::printf("%-14s %-9s %5lld B | to 1 MB %7.1f MB/s | 1-10 MB %7.1f MB/s | 10-100 MB %7.1f "
                "MB/s | %6.2f MB in %5.1f s: %7.2f MB/s, %7.2f MB per CPU s, %5d paints",
                who, pattern, (long long)piece, mbPerSecond(std::min(r.bytes, MB), r.secondsTo1),
                r.secondsTo10 > 0 ? mbPerSecond(9 * MB, r.secondsTo10 - r.secondsTo1) : 0.0,
                r.secondsTo100 > 0 ? mbPerSecond(90 * MB, r.secondsTo100 - r.secondsTo10) : 0.0,
                double(r.bytes) / MB, r.seconds, mbPerSecond(r.bytes, r.seconds),
                mbPerSecond(r.bytes, r.cpuSeconds), r.paints);
    if (r.first10 > 0 && r.bytes >= 20 * MB)
        std::printf(" | last/first 10 MB %.2f", r.last10 / r.first10);
    std::printf(" | %.2f B/char\n", double(r.residentGrowth) / double(r.bytes));
    std::fflush(stdout);
}

double repaintMs(QWidget *viewport, int times)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < times; ++i)
        viewport->repaint();
    return t.nsecsElapsed() / 1e6 / times;
}

QFont screenFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(9.75);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

const QSize ScreenSize(585, 289); // 8775 x 4335 twips at 96 dpi

const char *patternName(Pattern p)
{
    return p == Pattern::Lines ? "lines" : p == Pattern::NoBreaks ? "no breaks" : "random";
}

void screenCase(Pattern pattern, qsizetype piece, qsizetype total)
{
    const QByteArray source = sourceText(pattern);
    Screen screen;
    screen.setFont(screenFont());
    screen.resize(ScreenSize);
    screen.show();
    const Run r = appendRun(
        screen.viewport(),
        [&screen](QByteArrayView p) {
            screen.append(p);
            screen.setCursorPosition(int(screen.length()));
        },
        source, piece, total, 0);
    printRun("Screen", patternName(pattern), piece, r);
    const double atEnd = repaintMs(screen.viewport(), 100);
    screen.verticalScrollBar()->setValue(0);
    const double atTop = repaintMs(screen.viewport(), 100);
    int keys = 0;
    QObject::connect(&screen, &Screen::KeyPress, &screen, [&keys](int &keyAscii) {
        ++keys;
        keyAscii = 0;
    });
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 1000; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QCoreApplication::sendEvent(&screen, &press);
    }
    std::printf("    full repaint at %lld MB: %.3f ms at the end, %.3f ms at the top; key press to "
                "handler %.2f us (%d keys)\n",
                (long long)(screen.length() / MB), atEnd, atTop, t.nsecsElapsed() / 1e3 / 1000,
                keys);
    screen.append("Quorline-needle\r\n");
    for (const bool matchCase : {true, false}) {
        // The best of three: the machine is shared.
        double best = 1e9;
        qsizetype at = -1;
        for (int round = 0; round < 3; ++round) {
            t.restart();
            at = findBytes(screen.model().bytes(), "Quorline-needle", 0, false, matchCase);
            best = std::min(best, t.nsecsElapsed() / 1e6);
        }
        std::printf("    find at the end of %lld MB (%s): %.1f ms, found %s; %lld MB dropped by "
                    "the limit\n",
                    (long long)(screen.length() / MB), matchCase ? "match case" : "any case", best,
                    at == screen.length() - 17 ? "there" : "WRONG",
                    (long long)(screen.droppedTotal() / MB));
    }
}

void baselineCase(Pattern pattern, qsizetype piece, qsizetype total, double capSeconds)
{
    const QByteArray source = sourceText(pattern);
    QPlainTextEdit edit;
    edit.setFont(screenFont());
    edit.resize(ScreenSize);
    edit.show();
    const Run r = appendRun(
        edit.viewport(),
        [&edit](QByteArrayView p) {
            edit.moveCursor(QTextCursor::End);
            edit.insertPlainText(QString::fromLatin1(p));
        },
        source, piece, total, capSeconds);
    printRun("QPlainTextEdit", patternName(pattern), piece, r);
}

} // namespace

// Each case runs in a process of its own, so that its memory figure starts from a clean heap.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const Arguments options(args);
    const auto totalMb = qsizetype(options.number(QStringLiteral("--mb"), 100));
    const double baselineSeconds = options.number(QStringLiteral("--baseline-seconds"), 20);
    const qsizetype total = totalMb * MB;
    const int caseAt = args.indexOf(QLatin1String("--case"));
    if (caseAt > 0 && caseAt + 3 < args.size()) {
        const auto pattern = Pattern(args[caseAt + 2].toInt());
        const qsizetype piece = args[caseAt + 3].toLongLong();
        if (args[caseAt + 1] == QLatin1String("screen"))
            screenCase(pattern, piece, total);
        else
            baselineCase(pattern, piece, total, baselineSeconds / 4);
        return 0;
    }

    std::printf("Screen and QPlainTextEdit, %lld MB per run, event loop every ms, caret set to "
                "the end after each piece; B/char is resident growth per screen character\n",
                (long long)totalMb);
    {
        Screen screen;
        screen.setFont(screenFont());
        screen.resize(ScreenSize);
        screen.show();
        QCoreApplication::processEvents();
        std::printf("full repaint, empty screen: %.3f ms\n", repaintMs(screen.viewport(), 200));
        // A frame grows the range; Qt's scroll area then lays its bars out again, queued.
        QScrollBar *bar = screen.verticalScrollBar();
        const int changes = 20000;
        QElapsedTimer clock;
        clock.start();
        for (int i = 1; i <= changes; ++i) {
            bar->setRange(0, i);
            QCoreApplication::processEvents();
        }
        std::printf("scroll range change and event loop: %.2f us each\n",
                    double(clock.nsecsElapsed()) / 1e3 / changes);
        std::fflush(stdout);
    }
    const auto runCase = [&args](const char *kind, Pattern pattern, qsizetype piece) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    args.mid(1) + QStringList{QStringLiteral("--case"), QLatin1String(kind),
                                              QString::number(int(pattern)),
                                              QString::number(piece)});
        child.waitForFinished(-1);
    };
    for (const Pattern pattern : {Pattern::Lines, Pattern::NoBreaks, Pattern::RandomBytes})
        for (const qsizetype piece : {qsizetype(64), qsizetype(4096)})
            runCase("screen", pattern, piece);
    if (baselineSeconds > 0)
        for (const Pattern pattern : {Pattern::Lines, Pattern::NoBreaks})
            for (const qsizetype piece : {qsizetype(64), qsizetype(4096)})
                runCase("baseline", pattern, piece);
    return 0;
}
