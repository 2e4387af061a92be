#include "widgets/commondialog.h"

#include <QFileDialog>

CommonDialog::CommonDialog(QWidget *parent) : QObject(parent), m_parent(parent) {}

void CommonDialog::ShowOpen()
{
    m_fileName =
        m_chooser ? m_chooser(m_parent, m_fileName) : chooseWithDialog(m_parent, m_fileName);
}

QString CommonDialog::chooseWithDialog(QWidget *parent, const QString &lastName)
{
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!lastName.isEmpty())
        dialog.selectFile(lastName);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

CommonDialog::AppendChoice CommonDialog::ShowAppend(const QString &title, const QStringList &types)
{
    return m_appendChooser ? m_appendChooser(m_parent, types)
                           : appendWithDialog(m_parent, title, types);
}

CommonDialog::AppendChoice CommonDialog::appendWithDialog(QWidget *parent, const QString &title,
                                                          const QStringList &types)
{
    QFileDialog dialog(parent, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(types);
    // An existing file is added to: the dialog says so instead of asking to replace it.
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Append to:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("&Append"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return {dialog.selectedFiles().value(0), types.indexOf(dialog.selectedNameFilter())};
}
