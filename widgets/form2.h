#pragma once

#include <QDialog>

class QLabel;

// The About window: what the program is, its version, where newer versions come from.
class Form2 : public QDialog
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);

    // Runs each time the window is shown, before it is drawn.
    void Form_Load();

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    int twips(int value) const;
};
