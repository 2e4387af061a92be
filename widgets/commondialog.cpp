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
