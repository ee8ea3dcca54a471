#include "mainwindow.h"

#include "masterserver.h"
#include "serverrunner.h"
#include "utils.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace
{

const QString kProductName = QStringLiteral("Kelvarix");
constexpr int kBalloonMs = 60000;
constexpr int kToolBarIconSize = 36;

} // namespace

MainWindow::MainWindow(const QString &programDir, QWidget *parent) : QMainWindow(parent)
{
    buildWidgets();
    buildActions();
    buildTrayIcon();

    // The server lives in its own thread; everything between it and the window is queued.
    auto *server = new MasterServer(programDir);
    runner = new ServerRunner(server, this);
    connect(server, &MasterServer::writeUILog, this, &MainWindow::writeUILog, Qt::QueuedConnection);
    connect(server, &MasterServer::writeConnectionsLog, this,
            QOverload<QString, int, bool>::of(&MainWindow::writeConnectionsLog),
            Qt::QueuedConnection);
    connect(actionCheckDB, &QAction::triggered, server, &MasterServer::checkDB,
            Qt::QueuedConnection);
    runner->start();
}

MainWindow::~MainWindow()
{
    // Ends the server thread before the window's objects go.
    delete runner;
    runner = nullptr;
}

void MainWindow::buildWidgets()
{
    setWindowTitle(tr("%1 Server").arg(kProductName));
    setWindowIcon(QIcon(QStringLiteral(":/images/serverLogo.png")));
    resize(1100, 643);
    setMinimumSize(400, 400);

    centralwidget = new QWidget(this);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    auto *layout = new QHBoxLayout(centralwidget);

    groupBox_admins = new QGroupBox(tr("Connected Machines"), centralwidget);
    groupBox_admins->setObjectName(QStringLiteral("groupBox_admins"));
    auto *adminsLayout = new QVBoxLayout(groupBox_admins);
    table_admins = new QTableView(groupBox_admins);
    table_admins->setObjectName(QStringLiteral("table_admins"));
    adminsLayout->addWidget(table_admins);
    layout->addWidget(groupBox_admins);

    logGroupBox = new QGroupBox(tr("Log Messages"), centralwidget);
    logGroupBox->setObjectName(QStringLiteral("logGroupBox"));
    auto *logLayout = new QVBoxLayout(logGroupBox);
    mainLog = new QPlainTextEdit(logGroupBox);
    mainLog->setObjectName(QStringLiteral("mainLog"));
    mainLog->setReadOnly(true);
    mainLog->setFont(QFont(QStringLiteral("Tahoma"), 8));
    mainLog->setTabStopDistance(40);
    mainLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    logLayout->addWidget(mainLog);
    layout->addWidget(logGroupBox);
    setCentralWidget(centralwidget);

    connections = new QStandardItemModel(0, 2, this);
    setConnectionsHeaders();
    table_admins->setModel(connections);
    table_admins->verticalHeader()->hide();
    table_admins->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_admins->setShowGrid(true);
    table_admins->setSortingEnabled(true);
    table_admins->setSelectionMode(QAbstractItemView::SingleSelection);
    table_admins->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_admins->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_admins->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table_admins, &QWidget::customContextMenuRequested, this, &MainWindow::showContextMenu);
}

void MainWindow::buildActions()
{
    actionCheckDB =
        new QAction(QIcon(QStringLiteral(":/images/test_db.png")), tr("Check DB"), this);
    actionCheckDB->setObjectName(QStringLiteral("actionCheckDB"));
    actionCheckDB->setToolTip(tr("Check DB Connection"));
    actionClear = new QAction(QIcon(QStringLiteral(":/images/clear.png")), tr("Clear"), this);
    actionClear->setObjectName(QStringLiteral("actionClear"));
    actionExit = new QAction(QIcon(QStringLiteral(":/images/exit.png")), tr("Exit"), this);
    actionExit->setObjectName(QStringLiteral("actionExit"));
    actionAbout = new QAction(QIcon(QStringLiteral(":/images/about.png")), tr("About "), this);
    actionAbout->setObjectName(QStringLiteral("actionAbout"));

    connect(actionClear, &QAction::triggered, this, &MainWindow::clear);
    connect(actionExit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(actionAbout, &QAction::triggered, this, &MainWindow::about);

    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menubar"));
    menuManager = bar->addMenu(tr("Actions"));
    menuManager->setObjectName(QStringLiteral("menuManager"));
    menuManager->addAction(actionCheckDB);
    menuManager->addAction(actionClear);
    menuManager->addSeparator();
    menuManager->addAction(actionExit);
    menuHelp = bar->addMenu(tr("About"));
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    menuHelp->addAction(actionAbout);

    toolBar = new QToolBar(tr("toolBar"), this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(kToolBarIconSize, kToolBarIconSize));
    toolBar->addAction(actionCheckDB);
    toolBar->addAction(actionClear);
    toolBar->addSeparator();
    toolBar->addAction(actionExit);
    addToolBar(Qt::TopToolBarArea, toolBar);
}

void MainWindow::buildTrayIcon()
{
    trayMenu = new QMenu(this);
    trayMenu->addSeparator();
    trayMenu->addAction(actionExit);

    tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/images/serverLogo.png")), this);
    tray->setToolTip(tr("%1 Server").arg(kProductName));
    tray->setContextMenu(trayMenu);
    connect(tray, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
    tray->show();
}

MasterServer *MainWindow::masterServer() const
{
    return runner ? runner->masterServer() : nullptr;
}

QSystemTrayIcon *MainWindow::trayIcon() const
{
    return tray;
}

QStandardItemModel *MainWindow::connectionsModel() const
{
    return connections;
}

void MainWindow::writeUILog(QString Msg)
{
    // Same form as a Server.log entry; the trailing line feed shows as an empty line.
    mainLog->appendPlainText(QDateTime::currentDateTime().toString() + QLatin1String(" - ") + Msg +
                             QLatin1Char('\n'));
}

void MainWindow::writeConnectionsLog(QString msg, int componentType, bool clear)
{
    if (clear)
        connections->removeRows(0, connections->rowCount());
    if (!msg.isEmpty()) {
        QString type;
        switch (componentType) {
        case 0:
            type = tr("Manager");
            break;
        case 2:
            type = tr("Agent");
            break;
        case 3:
            type = tr("Web Manager");
            break;
        default:
            break;
        }
        if (type.isEmpty())
            connections->insertRow(connections->rowCount());
        else
            connections->appendRow({new QStandardItem(type), new QStandardItem(msg)});
    }
    setConnectionsHeaders();
}

void MainWindow::writeConnectionsLog(QString msg, int componentType)
{
    writeConnectionsLog(msg, componentType, false);
}

void MainWindow::setConnectionsHeaders()
{
    connections->setHorizontalHeaderLabels({tr("Type"), tr("IP")});
}

void MainWindow::clear()
{
    mainLog->clear();
}

void MainWindow::showContextMenu(QPoint pos)
{
    Q_UNUSED(pos);
}

void MainWindow::about()
{
    Utils::showMessage(QStringLiteral("<img src=\":/images/logo.png\"><br><br>") +
                           tr("Kelvarix is developed and owned by the Kelvarix project."),
                       QString(), Utils::ManagerKind, 0);
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    setVisible(!isVisible());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing only hides the window; the server keeps running until Exit.
    tray->showMessage(tr("%1 Server").arg(kProductName),
                      tr("%1 Server is still running ...").arg(kProductName),
                      QSystemTrayIcon::NoIcon, kBalloonMs);
    hide();
    event->ignore();
}
