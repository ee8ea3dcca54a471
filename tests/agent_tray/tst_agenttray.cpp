#include "agent.h"
#include "agenttestutil.h"
#include "agenttrayresources.h"
#include "invprobe.h"
#include "mainwindow.h"
#include "modalmessagebox.h"
#include "serverprocess.h"
#include "worker.h"
#include "xvfbdisplay.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QToolBar>
#include <QtTest>
#include <memory>
#include <unistd.h>

// The agent's window and tray icon on a private X display with a real notification area, its
// Agent talking to the server program over loopback.
class TestAgentTray : public QObject
{
    Q_OBJECT
public:
    TestAgentTray(XvfbDisplay *display, const QString &xdgDir) : display(display), xdgDir(xdgDir) {}

private slots:
    void initTestCase();
    void cleanupTestCase();
    void formActionsAndMenus();
    void hiddenWindowStaysHidden();
    void shownWindowTogglesWithDoubleClicks();
    void logDetailsStopsViewAndLogFile();
    void clearLeavesAgentLog();
    void contactServerNowSendsHello();
    void startUpEntryToggle();
    void aboutNamesTheAgent();
    void screenshots();
    void exitEndsProgramAndThreads();

private:
    // A window whose Agent reads a fresh Agent.ini; returns once the server gave it its id.
    MainWindow *startWindow(bool showMainWindow, QString *agentDir);
    static int machineId(const QString &agentDir);
    // Returns once the Agent's thread has handled everything queued to it so far.
    static void syncAgentThread(MainWindow *window);
    template <typename T> T *child(const char *name) const
    {
        return shown->findChild<T *>(QLatin1String(name));
    }
    QAction *action(const char *name) const { return child<QAction>(name); }
    QString viewText() const { return child<QPlainTextEdit>("plainTextEdit")->toPlainText(); }
    QByteArray agentLog() const { return readTextFile(shownDir + QLatin1String("/Agent.log")); }

    XvfbDisplay *display;
    QString xdgDir;
    QTemporaryDir serverDir;
    std::unique_ptr<ServerProcess> server;
    int serverAgentPort = 0;
    std::vector<std::unique_ptr<QTemporaryDir>> agentDirs;
    // The window most tests drive: "ShowMainWindow" 1.
    MainWindow *shown = nullptr;
    QString shownDir;
};

void TestAgentTray::initTestCase()
{
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
    QVERIFY(serverDir.isValid());
    QStringList ports;
    QVERIFY(ServerProcess::writeSqliteSetup(serverDir.path(), &ports));
    serverAgentPort = ServerProcess::portIn(ports, QStringLiteral("ServerAgentPort"));
    server.reset(new ServerProcess(serverDir.path()));
    QVERIFY(server->start());
    QVERIFY2(server->waitForMessage(QStringLiteral("Kelvarix Server is running .....")),
             qPrintable(server->output()));
    shown = startWindow(true, &shownDir);
    QVERIFY(shown);
}

void TestAgentTray::cleanupTestCase()
{
    delete shown;
    if (server)
        server->stop();
}

MainWindow *TestAgentTray::startWindow(bool showMainWindow, QString *agentDir)
{
    agentDirs.push_back(std::make_unique<QTemporaryDir>());
    const QString dir = agentDirs.back()->path();
    *agentDir = dir;
    const QByteArray ini =
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(serverAgentPort) +
        "\nAgentPort=" + QByteArray::number(freeUdpPort()) +
        "\nNegotiateOnStartup=1\nShowMainWindow=" + QByteArray(showMainWindow ? "1" : "0") +
        "\nPollServer=0\n";
    if (!writeTextFile(dir + QLatin1String("/Agent.ini"), ini))
        return nullptr;
    auto *window = new MainWindow(dir);
    if (!QTest::qWaitFor([&] { return machineId(dir) > 0; }, 20000)) {
        qWarning() << "the agent did not register:"
                   << readTextFile(dir + QLatin1String("/Agent.log"));
        delete window;
        return nullptr;
    }
    return window;
}

int TestAgentTray::machineId(const QString &agentDir)
{
    const QByteArray key = readTextFile(agentDir + QLatin1String("/Agent.key"));
    const int at = key.indexOf("UUID=");
    return at < 0 ? 0 : key.mid(at + 5).trimmed().toInt();
}

void TestAgentTray::syncAgentThread(MainWindow *window)
{
    QMetaObject::invokeMethod(
        window->runningAgent(), [] {}, Qt::BlockingQueuedConnection);
}

void TestAgentTray::formActionsAndMenus()
{
    QCOMPARE(shown->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(shown->windowTitle(), QStringLiteral("Kelvarix Agent"));
    QCOMPARE(shown->size(), QSize(850, 500));
    QCOMPARE(shown->iconSize(), QSize(50, 87));
    QVERIFY(!shown->windowIcon().isNull());
    for (const char *name : {"centralWidget", "verticalLayout", "groupBox", "horizontalLayout_2",
                             "plainTextEdit", "menuBar", "menuAgent_2", "menuHelp", "toolBar"})
        QVERIFY2(shown->findChild<QObject *>(QLatin1String(name)), name);
    QCOMPARE(child<QGroupBox>("groupBox")->title(), QStringLiteral("Log Messages"));
    QVERIFY(child<QPlainTextEdit>("plainTextEdit")->isReadOnly());

    struct Expected {
        const char *name;
        const char *text;
        bool icon;
        bool checkable;
    };
    const Expected actions[] = {
        {"actionAbout", "About", true, false},
        {"actionClear", "Clear", true, false},
        {"actionManual_disconnect", "Manual disconnect", true, false},
        {"actionQuit", "Exit", true, false},
        {"actionLog_Details", "Log Details", true, true},
        {"actionRun_on_startup", "Start Agent when the desktop session starts", false, true},
        {"actionContact_server", "Contact server now", true, false},
    };
    for (const Expected &expected : actions) {
        QAction *a = action(expected.name);
        QVERIFY2(a, expected.name);
        QCOMPARE(a->text(), QLatin1String(expected.text));
        QCOMPARE(!a->icon().isNull() && a->isIconVisibleInMenu(), expected.icon);
        QCOMPARE(a->isCheckable(), expected.checkable);
    }
    QVERIFY(action("actionLog_Details")->isChecked());

    const QList<QAction *> menus = shown->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus.at(0)->menu(), child<QMenu>("menuAgent_2"));
    QCOMPARE(menus.at(0)->text(), QStringLiteral("Actions"));
    QCOMPARE(menus.at(1)->menu(), child<QMenu>("menuHelp"));
    QCOMPARE(menus.at(1)->text(), QStringLiteral("About"));
    // Object names in order, "-" for a separator.
    auto names = [](const QList<QAction *> &list) {
        QStringList out;
        for (QAction *a : list)
            out.append(a->isSeparator() ? QStringLiteral("-") : a->objectName());
        return out.join(QLatin1Char(' '));
    };
    QCOMPARE(names(child<QMenu>("menuAgent_2")->actions()),
             QStringLiteral(
                 "actionManual_disconnect actionContact_server actionLog_Details actionClear - "
                 "actionRun_on_startup - actionQuit"));
    QCOMPARE(names(child<QMenu>("menuHelp")->actions()), QStringLiteral("actionAbout -"));

    auto *toolBar = child<QToolBar>("toolBar");
    QCOMPARE(toolBar->windowTitle(), QStringLiteral("toolBar"));
    QCOMPARE(shown->toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(!toolBar->isMovable() && !toolBar->isFloatable());
    QCOMPARE(toolBar->iconSize(), QSize(36, 36));
    QCOMPARE(toolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QCOMPARE(names(toolBar->actions()),
             QStringLiteral(
                 "actionManual_disconnect actionContact_server actionLog_Details actionClear - "
                 "actionQuit"));

    QSystemTrayIcon *tray = shown->systemTrayIcon();
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->toolTip(), QStringLiteral("Kelvarix Agent"));
    QVERIFY(!tray->icon().isNull());
    QCOMPARE(names(tray->contextMenu()->actions()),
             QStringLiteral("actionContact_server actionRun_on_startup - actionAbout actionQuit"));
}

void TestAgentTray::hiddenWindowStaysHidden()
{
    QString dir;
    std::unique_ptr<MainWindow> window(startWindow(false, &dir));
    QVERIFY(window);
    // The agent has finished starting once the server's id is stored; a request for the
    // window would have been queued by then.
    syncAgentThread(window.get());
    QCoreApplication::processEvents();
    QVERIFY(!window->isVisible());
    for (auto reason :
         {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        QMetaObject::invokeMethod(window.get(), "iconActivated",
                                  Q_ARG(QSystemTrayIcon::ActivationReason, reason));
        QVERIFY(!window->isVisible());
    }
    // The log still reaches the hidden window.
    QTRY_VERIFY(window->findChild<QPlainTextEdit *>()->toPlainText().contains(
        QLatin1String("Kelvarix Client initialization ....")));
}

void TestAgentTray::shownWindowTogglesWithDoubleClicks()
{
    QTRY_VERIFY_WITH_TIMEOUT(shown->isVisible(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    auto activate = [this](QSystemTrayIcon::ActivationReason reason) {
        QMetaObject::invokeMethod(shown, "iconActivated",
                                  Q_ARG(QSystemTrayIcon::ActivationReason, reason));
    };
    activate(QSystemTrayIcon::DoubleClick);
    QVERIFY(!shown->isVisible());
    activate(QSystemTrayIcon::Trigger);
    QVERIFY(!shown->isVisible());
    activate(QSystemTrayIcon::DoubleClick);
    QVERIFY(shown->isVisible());
    // Closing hides; the agent keeps running and a double click brings the window back.
    QVERIFY(!shown->close());
    QVERIFY(!shown->isVisible());
    QVERIFY(shown->agentThread()->isRunning());
    // Shown again, the view is at the newest of the lines that came meanwhile.
    for (int i = 0; i < 100; ++i)
        shown->writeUiLogSlot(QStringLiteral("line %1\n").arg(i));
    activate(QSystemTrayIcon::DoubleClick);
    QVERIFY(shown->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    const QScrollBar *scroll = child<QPlainTextEdit>("plainTextEdit")->verticalScrollBar();
    QVERIFY(scroll->maximum() > 0);
    QCOMPARE(scroll->value(), scroll->maximum());
}

void TestAgentTray::logDetailsStopsViewAndLogFile()
{
    const QString disconnected = QStringLiteral("Disconnect from Kelvarix Server");
    auto *view = child<QPlainTextEdit>("plainTextEdit");
    QAction *details = action("actionLog_Details");
    QTRY_VERIFY(viewText().contains(QLatin1String("Kelvarix Client initialization ....")));
    syncAgentThread(shown);
    QCoreApplication::processEvents();
    QVERIFY(!viewText().contains(disconnected));

    details->trigger();
    QVERIFY(!details->isChecked());
    QVERIFY(!view->isEnabled());
    const QByteArray logBefore = agentLog();
    const QString viewBefore = viewText();
    action("actionManual_disconnect")->trigger();
    syncAgentThread(shown);
    QCoreApplication::processEvents();
    QCOMPARE(agentLog(), logBefore);
    QCOMPARE(viewText(), viewBefore);

    details->trigger();
    QVERIFY(details->isChecked());
    QVERIFY(view->isEnabled());
    action("actionManual_disconnect")->trigger();
    QTRY_VERIFY(viewText().contains(QLatin1String(" - ") + disconnected + QLatin1Char('\n')));
    QVERIFY(agentLog().contains(" - " + disconnected.toUtf8() + '\n'));
    QCOMPARE(agentLog().count(disconnected.toUtf8()), 1);
}

void TestAgentTray::clearLeavesAgentLog()
{
    QTRY_VERIFY(!viewText().isEmpty());
    syncAgentThread(shown);
    const QByteArray before = agentLog();
    QVERIFY(before.contains("Starting Agent"));
    action("actionClear")->trigger();
    QVERIFY(viewText().isEmpty());
    QCOMPARE(agentLog(), before);
}

void TestAgentTray::contactServerNowSendsHello()
{
    const int id = machineId(shownDir);
    QVERIFY(id > 0);
    const QString connection = QStringLiteral("agenttray");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(serverDir.filePath(QStringLiteral("zvn.sqlite")));
        QVERIFY(db.open());
        auto updatedAt = [&] {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT updated_at FROM machines WHERE id=%1").arg(id));
            return query.next() ? query.value(0).toString() : QStringLiteral("<none>");
        };
        // A hello from a known agent stamps its row with the time of contact.
        QSqlQuery(db).exec(
            QStringLiteral("UPDATE machines SET updated_at='2000-01-01 00:00:00' WHERE id=%1")
                .arg(id));
        QCOMPARE(updatedAt(), QStringLiteral("2000-01-01 00:00:00"));
        action("actionContact_server")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!updatedAt().startsWith(QLatin1String("2000")), 20000);
        QVERIFY(updatedAt() != QLatin1String("<none>"));
    }
    QSqlDatabase::removeDatabase(connection);
    QVERIFY(agentLog().contains(
        "Connecting to Server @ 127.0.0.1:" + QByteArray::number(serverAgentPort) + '\n'));
}

void TestAgentTray::startUpEntryToggle()
{
    // Root's entry is system-wide, anyone else's the user's own (main() points both at xdgDir).
    const QString base =
        xdgDir + (::geteuid() == 0 ? QLatin1String("/etc") : QLatin1String("/home"));
    const QString entry = base + QLatin1String("/autostart/zvn-agent.desktop");
    const QString record = base + QLatin1String("/kelvarix/zvn-agent.conf");
    QAction *startUp = action("actionRun_on_startup");
    QVERIFY(!startUp->isChecked());

    // Nothing recorded the program yet: the entry cannot be written, and the mark says so.
    QFile::remove(record);
    startUp->trigger();
    QVERIFY(!startUp->isChecked());
    QVERIFY(!QFile::exists(entry));
    QTRY_VERIFY(agentLog().contains("[ERROR] Unable to add the start-up entry (1)\n"));

    QCOMPARE(setAgentApplicationPath(QStringLiteral("/opt/kelvarix/agent/KelvarixAgent")), 0);
    startUp->trigger();
    QVERIFY(startUp->isChecked());
    QVERIFY(readTextFile(entry).contains("\nExec=/opt/kelvarix/agent/KelvarixAgent\n"));
    QTRY_VERIFY(agentLog().contains(" - The agent starts with the desktop session\n"));

    // A window started while the entry exists shows it checked.
    {
        QString dir;
        std::unique_ptr<MainWindow> other(startWindow(false, &dir));
        QVERIFY(other);
        QVERIFY(other->findChild<QAction *>(QStringLiteral("actionRun_on_startup"))->isChecked());
    }

    startUp->trigger();
    QVERIFY(!startUp->isChecked());
    QVERIFY(!QFile::exists(entry));
    QTRY_VERIFY(agentLog().contains(" - The agent no longer starts with the desktop session\n"));
}

void TestAgentTray::aboutNamesTheAgent()
{
    const ModalMessageBox about =
        ModalMessageBox::readAndClose([this] { action("actionAbout")->trigger(); });
    QCOMPARE(about.title, QStringLiteral("Kelvarix Agent"));
    QVERIFY2(about.text.startsWith(QLatin1String("<img src=':/images/logo.png'><br><br>")) &&
                 about.text.size() > 45,
             qPrintable(about.text));
}

void TestAgentTray::screenshots()
{
    QVERIFY(shown->isVisible());
    QTRY_VERIFY(!viewText().isEmpty());
    shown->raise();
    shown->activateWindow();
    QCoreApplication::processEvents();
    const QString windowShot = XvfbDisplay::outputDir() + QStringLiteral("/agent-window.png");
    QFile::remove(windowShot);
    QVERIFY(display->screenshot(windowShot));
    QVERIFY(QFileInfo(windowShot).size() > 0);

    // The tray menu opens below the icon, as a right click there opens it.
    QMenu *menu = shown->systemTrayIcon()->contextMenu();
    const QRect icon = shown->systemTrayIcon()->geometry();
    QVERIFY(icon.isValid());
    menu->popup(icon.bottomLeft());
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QCoreApplication::processEvents();
    const QString menuShot = XvfbDisplay::outputDir() + QStringLiteral("/agent-tray-menu.png");
    QFile::remove(menuShot);
    QVERIFY(display->screenshot(menuShot));
    QVERIFY(QFileInfo(menuShot).size() > 0);
    menu->hide();
}

void TestAgentTray::exitEndsProgramAndThreads()
{
    QPointer<QThread> agentThread = shown->agentThread();
    syncAgentThread(shown);
    QPointer<QThread> workerThread = shown->runningAgent()->worker->thread();
    QVERIFY(workerThread && workerThread->isRunning() && workerThread != agentThread);

    // Exit from the tray menu, clicked as a user would, ends the event loop the program runs.
    QMenu *menu = shown->systemTrayIcon()->contextMenu();
    QTimer::singleShot(0, menu, [menu] {
        menu->popup(QPoint(900, 40));
        if (!QTest::qWaitForWindowExposed(menu))
            return;
        const QList<QAction *> items = menu->actions();
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                          menu->actionGeometry(items.last()).center());
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(20000);
    QCOMPARE(QApplication::exec(), 0);

    // What main() does next: the window goes, and with it the agent and both threads.
    delete shown;
    shown = nullptr;
    QVERIFY(agentThread.isNull());
    QVERIFY(workerThread.isNull());
    QVERIFY(agentLog().contains("Starting Agent"));
}

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.start(true))
        return XvfbDisplay::unavailable(display.errorText());
    display.use();
    // The start-up entry and the recorded path go below a directory of the test's own.
    QTemporaryDir xdg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(xdg.filePath(QStringLiteral("etc"))));
    qunsetenv("INVPROBE_REGISTRY");
    QApplication app(argc, argv);
    initAgentTrayResources();
    TestAgentTray test(&display, xdg.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_agenttray.moc"
