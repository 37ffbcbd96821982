#pragma once

#include <QComboBox>

// A drop-down list without an edit field. It tells when its list is about to open, before it
// opens, whether the mouse or the keyboard opens it (also when it has no item to show), and it
// draws its field on the box background (QPalette::Base), white or grey as the rules set it.
// The open list is as wide as its widest item, within the screen; the field keeps its size.
class DropDownList : public QComboBox {
    Q_OBJECT

public:
    explicit DropDownList(QWidget* parent = nullptr);
    void showPopup() override;

signals:
    void aboutToDropDown();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void fitPopupToItems();
};
