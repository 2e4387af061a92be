#pragma once

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class Screen;

// The screen's small find window: not modal, so data keeps arriving while it is open. Enter and
// F3 find the next match, Shift+F3 the previous one; a match is selected and scrolled into view.
class FindWindow : public QWidget
{
    Q_OBJECT

public:
    explicit FindWindow(Screen *screen);

    void findNext() { find(false); }
    void findPrevious() { find(true); }

    QLineEdit *findText = nullptr;
    QCheckBox *matchCase = nullptr;
    QLabel *result = nullptr;

protected:
    void keyPressEvent(QKeyEvent *e) override;

private:
    void find(bool backward);

    QPointer<Screen> m_screen;
    // The last match's start counted from the screen's first byte ever, so that it survives
    // the limit dropping old rows; -1 before the first match.
    qint64 m_lastStart = -1;
    qint64 m_lastRewrites = 0;
};
