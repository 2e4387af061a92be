#pragma once

#include <QObject>
#include <QString>

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

private:
    static QString chooseWithDialog(QWidget *parent, const QString &lastName);

    QWidget *m_parent = nullptr;
    QString m_fileName;
    Chooser m_chooser;
};
