#pragma once

#include <QComboBox>

// A drop-down list that tells when its list is about to open, before it opens,
// whether the mouse or the keyboard opens it.
class DropDownList : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void aboutToDropDown();
};
