#include "mainwindow.h"

#include "agent.h"
#include "agentsettings.h"
#include "invprobe.h"
#include "utils.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QThread>
#include <QToolBar>
#include <QVBoxLayout>

namespace
{

constexpr int kWindowWidth = 850;
constexpr int kWindowHeight = 500;
constexpr int kToolBarIconSize = 36;
constexpr int kLayoutSpacing = 6;
constexpr int kLayoutMargin = 11;

QString agentTitle()
{
    return MainWindow::tr("%1 Agent").arg(QLatin1String(kProductName));
}

} // namespace

MainWindow::MainWindow(const QString &agentDirectory, QWidget *parent) : QMainWindow(parent)
{
    buildForm();
    buildActions();
    buildMenus();
    buildTrayIcon();
    setWindowTitle(agentTitle());

    logging = true;
    actionLog_Details->setChecked(true);
    agent = new Agent(true, agentDirectory);
    actionRun_on_startup->setChecked(isAgentStartUpEnabled() == 0);
    makeConnections();

    agentRunThread = new QThread(this);
    agent->moveToThread(agentRunThread);
    connect(agentRunThread, &QThread::started, agent, &Agent::startUp);
    // The Agent's sockets and timers belong to its thread, so it is released there, as the
    // thread ends.
    connect(agentRunThread, &QThread::finished, agent, &QObject::deleteLater);
    agentRunThread->start(QThread::InheritPriority);
}

MainWindow::~MainWindow()
{
    agentRunThread->quit();
    agentRunThread->wait();
    agent = nullptr;
}

void MainWindow::buildForm()
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(kWindowWidth, kWindowHeight);
    setWindowIcon(QIcon(QStringLiteral(":/images/agentLogo.png")));
    setIconSize(QSize(50, 87));

    formWidget = new QWidget(this);
    formWidget->setObjectName(QStringLiteral("centralWidget"));
    verticalLayout = new QVBoxLayout(formWidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(kLayoutSpacing);
    verticalLayout->setContentsMargins(kLayoutMargin, kLayoutMargin, kLayoutMargin, kLayoutMargin);

    groupBox = new QGroupBox(tr("Log Messages"), formWidget);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    horizontalLayout_2 = new QHBoxLayout(groupBox);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    horizontalLayout_2->setSpacing(kLayoutSpacing);
    horizontalLayout_2->setContentsMargins(kLayoutMargin, kLayoutMargin, kLayoutMargin,
                                           kLayoutMargin);
    plainTextEdit = new QPlainTextEdit(groupBox);
    plainTextEdit->setObjectName(QStringLiteral("plainTextEdit"));
    plainTextEdit->setReadOnly(true);
    horizontalLayout_2->addWidget(plainTextEdit);
    verticalLayout->addWidget(groupBox);
    setCentralWidget(formWidget);
}

void MainWindow::buildActions()
{
    auto action = [this](const char *name, const char *icon, const QString &text) {
        auto *created = new QAction(text, this);
        created->setObjectName(QLatin1String(name));
        if (icon)
            created->setIcon(QIcon(QLatin1String(icon)));
        return created;
    };
    actionAbout = action("actionAbout", ":/images/about.png", tr("About"));
    actionClear = action("actionClear", ":/images/clear.png", tr("Clear"));
    actionManual_disconnect =
        action("actionManual_disconnect", ":/images/disconnect.png", tr("Manual disconnect"));
    actionQuit = action("actionQuit", ":/images/exit.png", tr("Exit"));
    actionLog_Details = action("actionLog_Details", ":/images/log.png", tr("Log Details"));
    actionLog_Details->setCheckable(true);
    actionLog_Details->setChecked(true);
    actionRun_on_startup =
        action("actionRun_on_startup", nullptr, tr("Start Agent when the desktop session starts"));
    actionRun_on_startup->setCheckable(true);
    actionRun_on_startup->setIconVisibleInMenu(false);
    actionContact_server =
        action("actionContact_server", ":/images/contact.png", tr("Contact server now"));
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    menuAgent_2 = bar->addMenu(tr("Actions"));
    menuAgent_2->setObjectName(QStringLiteral("menuAgent_2"));
    menuAgent_2->addAction(actionManual_disconnect);
    menuAgent_2->addAction(actionContact_server);
    menuAgent_2->addAction(actionLog_Details);
    menuAgent_2->addAction(actionClear);
    menuAgent_2->addSeparator();
    menuAgent_2->addAction(actionRun_on_startup);
    menuAgent_2->addSeparator();
    menuAgent_2->addAction(actionQuit);
    menuHelp = bar->addMenu(tr("About"));
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    menuHelp->addAction(actionAbout);
    menuHelp->addSeparator();

    toolBar = new QToolBar(tr("toolBar"), this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setIconSize(QSize(kToolBarIconSize, kToolBarIconSize));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->addAction(actionManual_disconnect);
    toolBar->addAction(actionContact_server);
    toolBar->addAction(actionLog_Details);
    toolBar->addAction(actionClear);
    toolBar->addSeparator();
    toolBar->addAction(actionQuit);
    addToolBar(Qt::TopToolBarArea, toolBar);
}

void MainWindow::buildTrayIcon()
{
    // The window may never be shown, so the tray menu also offers what a desktop user
    // would otherwise only reach there.
    trayIconMenu = new QMenu(this);
    trayIconMenu->addAction(actionContact_server);
    trayIconMenu->addAction(actionRun_on_startup);
    trayIconMenu->addSeparator();
    trayIconMenu->addAction(actionAbout);
    trayIconMenu->addAction(actionQuit);

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/images/agentLogo.png")), this);
    trayIcon->setToolTip(agentTitle());
    trayIcon->setContextMenu(trayIconMenu);
    trayIcon->setVisible(true);
}

void MainWindow::makeConnections()
{
    connect(actionAbout, &QAction::triggered, this, &MainWindow::about);
    connect(actionManual_disconnect, &QAction::triggered, this, &MainWindow::disconnect);
    connect(actionLog_Details, &QAction::triggered, this, &MainWindow::loggingTriggered);
    connect(actionQuit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(actionClear, &QAction::triggered, plainTextEdit, &QPlainTextEdit::clear);
    connect(actionRun_on_startup, &QAction::toggled, this, &MainWindow::startUpChanged);
    connect(actionContact_server, &QAction::triggered, this, &MainWindow::blindPacket);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
    connect(agent, &Agent::writeUiLogSignal, this, &MainWindow::writeUiLogSlot,
            Qt::QueuedConnection);
    connect(agent, &Agent::showWindow, this, &MainWindow::showWindow, Qt::QueuedConnection);
    connect(this, &MainWindow::sendBlindPacket, agent, &Agent::sendBlindPacket,
            Qt::QueuedConnection);
}

void MainWindow::writeUiLogSlot(QString line)
{
    plainTextEdit->appendPlainText(line);
}

void MainWindow::showWindow()
{
    mayShow = true;
    show();
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    if (isHidden() && mayShow)
        show();
    else
        hide();
}

void MainWindow::loggingTriggered()
{
    logging = !logging;
    agent->setLogging(logging);
    actionLog_Details->setChecked(logging);
    plainTextEdit->setEnabled(logging);
}

void MainWindow::disconnect()
{
    QMetaObject::invokeMethod(agent, "disconnectFromServer", Qt::QueuedConnection);
}

void MainWindow::about()
{
    Utils::showMessage(QStringLiteral("<img src=':/images/logo.png'><br><br>") +
                           tr("Kelvarix is developed and owned by the Kelvarix project."),
                       QString(), Utils::AgentKind, 0);
}

void MainWindow::blindPacket()
{
    emit sendBlindPacket();
}

void MainWindow::startUpChanged(bool on)
{
    const int result = on ? setAgentStartUpEnabled() : unsetAgentStartUpEnabled();
    // The check mark shows what is on disk, also when the change failed.
    const bool enabled = isAgentStartUpEnabled() == 0;
    {
        const QSignalBlocker blocker(actionRun_on_startup);
        actionRun_on_startup->setChecked(enabled);
    }
    if (enabled == on)
        logThroughAgent(on ? tr("The agent starts with the desktop session")
                           : tr("The agent no longer starts with the desktop session"));
    else
        logThroughAgent((on ? tr("[ERROR] Unable to add the start-up entry (%1)")
                            : tr("[ERROR] Unable to remove the start-up entry (%1)"))
                            .arg(result));
}

void MainWindow::logThroughAgent(const QString &message)
{
    Agent *target = agent;
    QMetaObject::invokeMethod(
        agent, [target, message] { target->writeLog(message); }, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing only hides the window; the agent keeps running until Exit.
    hide();
    event->ignore();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Lines kept coming while the window was hidden; the newest are what the user looks for.
    plainTextEdit->moveCursor(QTextCursor::End);
    QScrollBar *scroll = plainTextEdit->verticalScrollBar();
    scroll->setValue(scroll->maximum());
}
