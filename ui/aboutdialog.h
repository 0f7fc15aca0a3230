#pragma once

// The about dialog.

#include <QDialog>

namespace Ui {
class AboutDialog;
}

// Name, version, the maker's shop and support addresses, one OK button.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

private:
    Ui::AboutDialog *ui;
};
