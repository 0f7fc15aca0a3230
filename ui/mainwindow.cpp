// The main window's construction: the form, the port list, the table's
// columns and header, room for the buttons' texts, texts shortened rather
// than cut off, the table from the keyboard.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/aboutdialog.h"
#include "ui/buttonroom.h"
#include "ui/columns.h"
#include "ui/elision.h"
#include "ui/headerstyle.h"
#include "ui/portlist.h"
#include "ui/rowticks.h"

#include <QHeaderView>
#include <QSysInfo>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    for (const QString &name : listedPortNames(portNamesFromSource()))
        ui->SerialBox->addItem(name);

    ui->tableWidget->setColumnCount(ColumnCount);
    ui->tableWidget->setRowCount(0);
    ui->tableWidget->setHorizontalHeaderLabels({QStringLiteral("MAC-адрес"),
                                                QStringLiteral("Тип устройства"),
                                                QStringLiteral("Версия ПО"),
                                                QStringLiteral("Статус"),
                                                QString()});
    QHeaderView *header = ui->tableWidget->horizontalHeader();
    header->resizeSection(CheckColumn, CheckColumnWidth);
    for (int column = StatusColumn; column >= AddressColumn; --column)
        header->setSectionResizeMode(column, QHeaderView::Stretch);

    if (usesFlatHeaderStyle(QSysInfo::productVersion()))
        setStyleSheet(flatHeaderStyleSheet());
    giveButtonTextsRoom(this);
    elideWhereNarrow(ui->StatusLabel, ui->tableWidget);
    tickRowsFromTheKeyboard(ui->tableWidget);

    connect(ui->tableWidget,
            SIGNAL(itemChanged(QTableWidgetItem *)),
            this,
            SLOT(CheckSelectedDev(QTableWidgetItem *)));
}

MainWindow::~MainWindow()
{
    delete ui;
    // m_serial goes next: it stops the worker and waits for it.
}

void MainWindow::on_AboutButton_clicked()
{
    AboutDialog dialog;
    dialog.exec();
}
