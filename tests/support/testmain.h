#pragma once

// A test program whose heavy functions CTest runs apart, under the label "slow": "--quick" runs
// every test function but the heavy ones, "--slow" only those, neither of them everything.

#include <QCoreApplication>
#include <QMetaMethod>
#include <QTest>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif

inline int runTests(QObject &test, int argc, char **argv, const QStringList &heavy)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool quick = args.removeAll(QStringLiteral("--quick")) > 0;
    const bool slow = args.removeAll(QStringLiteral("--slow")) > 0;
    QStringList functions;
    const QMetaObject *meta = test.metaObject();
    for (int m = meta->methodOffset(); m < meta->methodCount(); ++m) {
        const QMetaMethod method = meta->method(m);
        const QString name = QString::fromLatin1(method.name());
        if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Private &&
            method.parameterCount() == 0 && !name.endsWith(QLatin1String("_data")) &&
            !name.startsWith(QLatin1String("init")) && !name.startsWith(QLatin1String("cleanup")))
            functions << name;
    }
    // A renamed heavy function must not drop out of both runs unnoticed.
    for (const QString &name : heavy)
        if (!functions.contains(name))
            qFatal("no test function %s", qPrintable(name));
    if (quick)
        for (const QString &name : functions)
            if (!heavy.contains(name))
                args << name;
    if (slow)
        args << heavy;
    return QTest::qExec(&test, args);
}

#define QUORLINE_TEST_MAIN_IMPL(TestObject, App, ...)                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        App app(argc, argv);                                                                       \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject test;                                                                           \
        return runTests(test, argc, argv, {__VA_ARGS__});                                          \
    }

// As QTEST_MAIN and QTEST_GUILESS_MAIN, naming the heavy test functions.
#define QUORLINE_TEST_MAIN(TestObject, ...)                                                        \
    QUORLINE_TEST_MAIN_IMPL(TestObject, QApplication, __VA_ARGS__)
#define QUORLINE_TEST_GUILESS_MAIN(TestObject, ...)                                                \
    QUORLINE_TEST_MAIN_IMPL(TestObject, QCoreApplication, __VA_ARGS__)
