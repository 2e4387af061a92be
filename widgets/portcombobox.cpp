#include "widgets/portcombobox.h"

void PortComboBox::showPopup()
{
    emit DropDown();
    QComboBox::showPopup();
}
