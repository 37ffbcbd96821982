#include "DropDownList.h"

void DropDownList::showPopup() {
    emit aboutToDropDown();
    QComboBox::showPopup();
}
