#pragma once

#include <QPlainTextEdit>

// Temporary stand-in for the terminal screen; keeps the interface the window relies on.
class Screen : public QPlainTextEdit
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(int cursorPosition READ cursorPosition WRITE setCursorPosition)

public:
    explicit Screen(QWidget *parent = nullptr);
    QString text() const;
    void setText(const QString &text);
    QByteArray bytes() const;
    qsizetype length() const;
    void append(QByteArrayView piece);
    int cursorPosition() const;
    void setCursorPosition(int pos);

signals:
    void KeyPress(int &KeyAscii);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
