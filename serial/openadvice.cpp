#include "serial/openadvice.h"

#include "serial/portlock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace OpenAdvice {

QString describe(const Facts &facts, const QString &systemText)
{
    if (facts.permissionDenied && !facts.group.isEmpty() && facts.group != u"root") {
        if (!facts.listedInGroup)
            return QStringLiteral(
                       "%1: permission denied. The device belongs to the group %2, and you "
                       "are not in it. Add yourself with: sudo adduser $USER %2, then "
                       "log out and in again.")
                .arg(facts.path, facts.group);
        if (!facts.sessionHasGroup)
            return QStringLiteral(
                       "%1: permission denied. You are in the group %2, but this session "
                       "started before you were added: log out and in again.")
                .arg(facts.path, facts.group);
    }
    if (!facts.holders.isEmpty()) {
        QStringList names;
        bool modemManager = false;
        for (const Holder &holder : facts.holders) {
            names.append(portlock::describeProcess(holder.pid, holder.program));
            modemManager = modemManager || holder.program == u"ModemManager";
        }
        QString text =
            QStringLiteral("%1 is in use by %2.").arg(facts.path, names.join(QStringLiteral(", ")));
        if (modemManager)
            text +=
                QStringLiteral(" ModemManager tries every new ttyACM device as a modem: wait a "
                               "few seconds and try again, or stop it with: sudo systemctl stop "
                               "ModemManager.");
        return text;
    }
    return facts.path + QStringLiteral(": ") + systemText;
}

Facts gather(const QString &path, bool busy)
{
    Facts facts;
    facts.path = path;
    const QByteArray local = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(local.constData(), &st) != 0)
        return facts;
    facts.permissionDenied =
        ::faccessat(AT_FDCWD, local.constData(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES;
    if (facts.permissionDenied) {
        if (const group *g = ::getgrgid(st.st_gid)) {
            facts.group = QString::fromLocal8Bit(g->gr_name);
            const passwd *pw = ::getpwuid(::geteuid());
            const QByteArray user = pw ? QByteArray(pw->pw_name) : QByteArray();
            facts.listedInGroup = pw && pw->pw_gid == st.st_gid;
            for (char **member = g->gr_mem; member && *member && !user.isEmpty(); ++member)
                facts.listedInGroup = facts.listedInGroup || user == *member;
        }
        const int count = ::getgroups(0, nullptr);
        std::vector<gid_t> groups(count > 0 ? std::size_t(count) : 0);
        const int got = groups.empty() ? 0 : ::getgroups(count, groups.data());
        facts.sessionHasGroup = ::getegid() == st.st_gid;
        for (int i = 0; i < got; ++i)
            facts.sessionHasGroup = facts.sessionHasGroup || groups[std::size_t(i)] == st.st_gid;
    }
    if (busy && !facts.permissionDenied)
        facts.holders = holdersOf(path);
    return facts;
}

QList<Holder> holdersOf(const QString &path)
{
    QList<Holder> holders;
    struct stat device
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return holders;
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : pids) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (!ok || pid == ::getpid())
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System |
                                                     QDir::Hidden | QDir::NoDotAndDotDot)) {
            struct stat st
            {
            };
            if (::stat(QFile::encodeName(fds + u'/' + fd).constData(), &st) != 0 ||
                !S_ISCHR(st.st_mode) || st.st_rdev != device.st_rdev)
                continue;
            holders.append({pid, portlock::processName(pid)});
            break;
        }
    }
    return holders;
}

QString brlttyAdvice(bool brlttyRunning, const QStringList &fleeting)
{
    const QString gone = fleeting.join(QStringLiteral(", "));
    QString why;
    if (!fleeting.isEmpty() && brlttyRunning)
        why = QStringLiteral("brltty is running, and %1 went within 2 s of coming: it takes many "
                             "USB serial adapters (CH340, CP210x) for braille displays.")
                  .arg(gone);
    else if (!fleeting.isEmpty())
        why = QStringLiteral("%1 went within 2 s of coming, as a USB serial adapter (CH340, "
                             "CP210x) does when brltty takes it for a braille display.")
                  .arg(gone);
    else if (brlttyRunning)
        why = QStringLiteral("brltty is running: it takes many USB serial adapters (CH340, CP210x) "
                             "for braille displays, and the device goes a second after it comes.");
    else
        return {};
    return why + QStringLiteral(" Remove brltty (sudo apt remove brltty), or disable its udev "
                                "rule for the adapter (copy /usr/lib/udev/rules.d/85-brltty.rules "
                                "to /etc/udev/rules.d/ and comment out the adapter's line).");
}

bool brlttyRunning()
{
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : pids) {
        if (name.isEmpty() || !name.front().isDigit())
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(name));
        if (comm.open(QIODevice::ReadOnly) && comm.read(64).trimmed() == "brltty")
            return true;
    }
    return false;
}

} // namespace OpenAdvice
