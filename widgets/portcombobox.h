#pragma once

#include <QComboBox>

// A combo box that says when its list is about to drop down, so the list can be brought up to
// date first.
class PortComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void DropDown();
};
