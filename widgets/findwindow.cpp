#include "widgets/findwindow.h"

#include "terminal/screenfind.h"
#include "widgets/screen.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

FindWindow::FindWindow(Screen *screen) : QWidget(screen->window(), Qt::Tool), m_screen(screen)
{
    setObjectName(QStringLiteral("FindWindow"));
    setWindowTitle(tr("Find"));
    setAttribute(Qt::WA_DeleteOnClose);
    findText = new QLineEdit(this);
    findText->setObjectName(QStringLiteral("findText"));
    matchCase = new QCheckBox(tr("Match &case"), this);
    matchCase->setObjectName(QStringLiteral("matchCase"));
    auto *next = new QPushButton(tr("Find &Next"), this);
    next->setObjectName(QStringLiteral("findNext"));
    next->setDefault(true);
    auto *previous = new QPushButton(tr("Find &Previous"), this);
    previous->setObjectName(QStringLiteral("findPrevious"));
    result = new QLabel(this);
    result->setObjectName(QStringLiteral("findResult"));
    result->setTextFormat(Qt::PlainText);

    auto *grid = new QGridLayout(this);
    grid->addWidget(findText, 0, 0, 1, 2);
    grid->addWidget(next, 0, 2);
    grid->addWidget(matchCase, 1, 0);
    grid->addWidget(result, 1, 1);
    grid->addWidget(previous, 1, 2);

    connect(findText, &QLineEdit::returnPressed, this, &FindWindow::findNext);
    connect(next, &QPushButton::clicked, this, &FindWindow::findNext);
    connect(previous, &QPushButton::clicked, this, &FindWindow::findPrevious);
}

// F3 and Shift+F3 reach here from any control of the window that does not take them.
void FindWindow::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_F3 && (e->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier)
        find(e->modifiers() & Qt::ShiftModifier);
    else if (e->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(e);
}

void FindWindow::find(bool backward)
{
    if (!m_screen) {
        close();
        return;
    }
    const QString wanted = findText->text();
    if (wanted.isEmpty()) {
        result->setText(tr("Type the text to find."));
        return;
    }
    for (const QChar ch : wanted) {
        if (ch.unicode() > 255) {
            result->setText(tr("Not found: the screen holds Latin-1 characters only."));
            return;
        }
    }
    const QByteArray needle = wanted.toLatin1();
    const QByteArrayView haystack = m_screen->model().bytes();
    const bool exact = matchCase->isChecked();
    if (needle.size() > haystack.size()) {
        result->setText(tr("Not found."));
        return;
    }
    const qint64 last = m_lastStart >= 0 && m_lastRewrites == m_screen->rewrites()
                            ? m_lastStart - m_screen->droppedTotal()
                            : -1;
    const qsizetype from = findFrom(last, haystack.size(), m_screen->selectionStart(),
                                    m_screen->selectionEnd(), backward);
    const auto [at, wrapped] = findWrapping(haystack, needle, from, backward, exact);
    if (at < 0) {
        result->setText(tr("Not found."));
        return;
    }
    m_lastStart = at + m_screen->droppedTotal();
    m_lastRewrites = m_screen->rewrites();
    m_screen->setSelection(at, at + needle.size());
    result->setText(wrapped ? tr("Found, from the other end.") : tr("Found."));
}
