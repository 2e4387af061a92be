#include "serial/portlist.h"

#include "serial/portchoice.h"

namespace PortList {

Look refresh(const QList<int> &listed, int openNumber, const PortMap &map,
             const std::function<QString(int)> &absence, const std::function<QString(int)> &probe)
{
    Look look;
    for (auto it = map.entries().cbegin(); it != map.entries().cend(); ++it) {
        const int n = it.key();
        const QString name = PortChoice::portEntry(n) + QStringLiteral(" ") + deviceLabel(*it);
        if (n > PortChoice::LastPort) {
            look.refusals.append(name + QStringLiteral(": only COM%1 to COM%2 can be listed")
                                            .arg(PortChoice::FirstPort)
                                            .arg(PortChoice::LastPort));
            continue;
        }
        if (n == openNumber) {
            look.listed.append(n);
            continue;
        }
        if (const QString why = absence(n); !why.isEmpty()) {
            look.refusals.append(name + QStringLiteral(": ") + why);
            continue;
        }
        if (listed.contains(n)) {
            look.listed.append(n);
            continue;
        }
        const QString why = probe(n);
        if (why.isEmpty())
            look.listed.append(n);
        else
            look.refusals.append(PortChoice::portEntry(n) + QStringLiteral(": ") + why);
    }
    return look;
}

QString emptyListTip(const QStringList &refusals)
{
    if (refusals.isEmpty())
        return QStringLiteral("No serial device was found.");
    return QStringLiteral("No port could be opened.\n") + refusals.join(u'\n');
}

QString deviceLabel(const PortDevice &device)
{
    QString text = device.description.isEmpty()
                       ? device.path
                       : device.path + QStringLiteral(" (") + device.description + u')';
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            c = QChar(char16_t(0x2400 + u)); // the control pictures
        else if (u == 0x7f)
            c = QChar(char16_t(0x2421));
        else if ((u >= 0x80 && u < 0xa0) || c.category() == QChar::Other_Format ||
                 c.category() == QChar::Separator_Line ||
                 c.category() == QChar::Separator_Paragraph)
            c = QChar(char16_t(0xfffd));
    }
    return text;
}

QString plainToolTip(const QString &text)
{
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

} // namespace PortList
