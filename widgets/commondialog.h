#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The window's file-open dialog. It keeps the name of the last file chosen; a cancel leaves the
// name empty, so that a cancelled choice sends nothing.
class CommonDialog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString FileName READ fileName WRITE setFileName)

public:
    // Asks for a file, given the name chosen last time; returns the full path or empty.
    using Chooser = std::function<QString(QWidget *parent, const QString &lastName)>;

    explicit CommonDialog(QWidget *parent);

    QString fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }

    // Shows the dialog in its open-file mode and returns when the user has closed it.
    void ShowOpen();

    // Replaces the real dialog, for tests that script the user's choice; empty restores it.
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

    // A file to append to, and which of the types offered was chosen (-1 when cancelled). The
    // dialog asks no question about an existing file: it is added to, never overwritten.
    struct AppendChoice
    {
        QString path;
        qsizetype type = -1;
    };
    using AppendChooser = std::function<AppendChoice(QWidget *parent, const QStringList &types)>;
    AppendChoice ShowAppend(const QString &title, const QStringList &types);
    void setAppendChooser(AppendChooser chooser) { m_appendChooser = std::move(chooser); }

private:
    static QString chooseWithDialog(QWidget *parent, const QString &lastName);
    static AppendChoice appendWithDialog(QWidget *parent, const QString &title,
                                         const QStringList &types);

    QWidget *m_parent = nullptr;
    QString m_fileName;
    Chooser m_chooser;
    AppendChooser m_appendChooser;
};
