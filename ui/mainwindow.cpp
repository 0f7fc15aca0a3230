#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/aboutdialog.h"
#include "ui/portlist.h"

#include <QHeaderView>
#include <QSysInfo>

namespace {

constexpr int ColumnCount = 5;
constexpr int CheckColumn = 4;
constexpr int CheckColumnWidth = 20;

const char HeaderStyle[]
    = "QHeaderView::section{border-top:0px solid #D8D8D8;border-left:0px solid "
      "#D8D8D8;border-right:1px solid #D8D8D8;border-bottom: 1px solid "
      "#D8D8D8;background-color:white;padding:4px;}QTableCornerButton::section{border-top:0px "
      "solid #D8D8D8;border-left:0px solid #D8D8D8;border-right:1px solid "
      "#D8D8D8;border-bottom: 1px solid #D8D8D8;background-color:white;}";

} // namespace

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
    for (int column = 3; column >= 0; --column)
        header->setSectionResizeMode(column, QHeaderView::Stretch);

    if (usesFlatHeaderStyle(QSysInfo::productVersion()))
        setStyleSheet(QLatin1String(HeaderStyle));

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
