#include "mainwindow.h"
#include "masterserver.h"
#include "modalmessagebox.h"
#include "serverprocess.h"
#include "serverresources.h"
#include "utils.h"
#include "xvfbdisplay.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolBar>
#include <QtTest>

// The server window on a private X display with a real notification area.
class TestMainWindow : public QObject
{
    Q_OBJECT
public:
    explicit TestMainWindow(XvfbDisplay *display) : display(display) {}

private slots:
    void initTestCase();
    void cleanupTestCase();
    void widgetsAndObjectNames();
    void actionsMenusAndToolBar();
    void serverLogReachesWindow();
    void clearEmptiesOnlyTheView();
    void connectionsTable();
    void closeHidesAndServerKeepsRunning();
    void aboutNamesTheManager();
    void screenshot();
    void programStartsWithWindow();
    void noTrayShowsBoxAndExitsWithOne();
    void messageTitle_data();
    void messageTitle();
    void messageBoxIsWiderThanTitle();

private:
    static bool loadSqlite(const QString &dir);

    XvfbDisplay *display;
    QTemporaryDir dir;
    MainWindow *window = nullptr;
};

bool TestMainWindow::loadSqlite(const QString &dir)
{
    QStringList ports;
    return ServerProcess::writeSqliteSetup(dir, &ports);
}

void TestMainWindow::initTestCase()
{
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
    QVERIFY(dir.isValid());
    QVERIFY(loadSqlite(dir.path()));
    window = new MainWindow(dir.path());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindow::cleanupTestCase()
{
    delete window;
}

void TestMainWindow::widgetsAndObjectNames()
{
    for (const char *image : {"serverLogo", "logo", "test_db", "clear", "exit", "about"})
        QVERIFY2(!QPixmap(QStringLiteral(":/images/%1.png").arg(QLatin1String(image))).isNull(),
                 image);
    QCOMPARE(window->windowTitle(), QStringLiteral("Kelvarix Server"));
    QCOMPARE(window->minimumSize(), QSize(400, 400));
    QVERIFY(!window->windowIcon().isNull());
    for (const char *name : {"centralwidget", "groupBox_admins", "table_admins", "logGroupBox",
                             "mainLog", "actionCheckDB", "actionClear", "actionExit", "actionAbout",
                             "menubar", "menuManager", "menuHelp", "toolBar"})
        QVERIFY2(window->findChild<QObject *>(QLatin1String(name)), name);

    auto *admins = window->findChild<QGroupBox *>(QStringLiteral("groupBox_admins"));
    auto *logBox = window->findChild<QGroupBox *>(QStringLiteral("logGroupBox"));
    QCOMPARE(admins->title(), QStringLiteral("Connected Machines"));
    QCOMPARE(logBox->title(), QStringLiteral("Log Messages"));
    // Left to right: machines, then the log.
    QVERIFY(admins->geometry().right() < logBox->geometry().left());

    auto *log = window->findChild<QPlainTextEdit *>(QStringLiteral("mainLog"));
    QVERIFY(log->isReadOnly());
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(log->font().pointSize(), 8);

    auto *table = window->findChild<QTableView *>(QStringLiteral("table_admins"));
    QCOMPARE(table->model(), window->connectionsModel());
    QVERIFY(table->isSortingEnabled());
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);

    QVERIFY(window->trayIcon()->isVisible());
    QCOMPARE(window->trayIcon()->toolTip(), QStringLiteral("Kelvarix Server"));
    QVERIFY(!window->trayIcon()->icon().isNull());
}

void TestMainWindow::actionsMenusAndToolBar()
{
    auto action = [this](const char *name) {
        return window->findChild<QAction *>(QLatin1String(name));
    };
    QCOMPARE(action("actionCheckDB")->text(), QStringLiteral("Check DB"));
    QCOMPARE(action("actionCheckDB")->toolTip(), QStringLiteral("Check DB Connection"));
    QCOMPARE(action("actionClear")->text(), QStringLiteral("Clear"));
    QCOMPARE(action("actionExit")->text(), QStringLiteral("Exit"));
    QCOMPARE(action("actionAbout")->text(), QStringLiteral("About "));
    for (const char *name : {"actionCheckDB", "actionClear", "actionExit", "actionAbout"})
        QVERIFY2(!action(name)->icon().isNull(), name);

    auto *actions = window->findChild<QMenu *>(QStringLiteral("menuManager"));
    QCOMPARE(actions->title(), QStringLiteral("Actions"));
    const QList<QAction *> items = actions->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items.at(0), action("actionCheckDB"));
    QCOMPARE(items.at(1), action("actionClear"));
    QVERIFY(items.at(2)->isSeparator());
    QCOMPARE(items.at(3), action("actionExit"));
    auto *help = window->findChild<QMenu *>(QStringLiteral("menuHelp"));
    QCOMPARE(help->title(), QStringLiteral("About"));
    QCOMPARE(help->actions(), QList<QAction *>{action("actionAbout")});

    auto *toolBar = window->findChild<QToolBar *>(QStringLiteral("toolBar"));
    QCOMPARE(toolBar->windowTitle(), QStringLiteral("toolBar"));
    QCOMPARE(toolBar->iconSize(), QSize(36, 36));
    QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);
    const QList<QAction *> tools = toolBar->actions();
    QCOMPARE(tools.size(), 4);
    QCOMPARE(tools.at(0), action("actionCheckDB"));
    QCOMPARE(tools.at(1), action("actionClear"));
    QVERIFY(tools.at(2)->isSeparator());
    QCOMPARE(tools.at(3), action("actionExit"));

    const QList<QAction *> trayItems = window->trayIcon()->contextMenu()->actions();
    QCOMPARE(trayItems.size(), 2);
    QVERIFY(trayItems.at(0)->isSeparator());
    QCOMPARE(trayItems.at(1), action("actionExit"));
}

void TestMainWindow::serverLogReachesWindow()
{
    auto *log = window->findChild<QPlainTextEdit *>(QStringLiteral("mainLog"));
    QTRY_VERIFY_WITH_TIMEOUT(
        log->toPlainText().contains(QLatin1String(" - Kelvarix Server is running .....")), 20000);
    // Each entry is "date-time - message" and a line feed, the date in the framework's text form.
    const QRegularExpression entry(
        QStringLiteral("^\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} - Kelvarix Server "
                       "initialization \\.\\.\\.\\.$"));
    QVERIFY2(entry.match(log->document()->firstBlock().text()).hasMatch(),
             qPrintable(log->document()->firstBlock().text()));
    QCOMPARE(log->document()->firstBlock().next().text(), QString());
}

void TestMainWindow::clearEmptiesOnlyTheView()
{
    auto *log = window->findChild<QPlainTextEdit *>(QStringLiteral("mainLog"));
    QTRY_VERIFY_WITH_TIMEOUT(!log->toPlainText().isEmpty(), 20000);
    window->findChild<QAction *>(QStringLiteral("actionClear"))->trigger();
    QVERIFY(log->toPlainText().isEmpty());
    QFile file(dir.filePath(QStringLiteral("Server.log")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Kelvarix Server is running ....."));
}

void TestMainWindow::connectionsTable()
{
    QStandardItemModel *model = window->connectionsModel();
    auto send = [this](const QString &msg, int type, bool clear) {
        QMetaObject::invokeMethod(window, "writeConnectionsLog", Q_ARG(QString, msg),
                                  Q_ARG(int, type), Q_ARG(bool, clear));
    };
    send(QString(), 0, true);
    QCOMPARE(model->rowCount(), 0);
    send(QStringLiteral("127.0.0.10"), 0, false);
    send(QStringLiteral("127.0.0.11"), 2, false);
    send(QStringLiteral("127.0.0.12"), 3, false);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->item(0, 0)->text(), QStringLiteral("Manager"));
    QCOMPARE(model->item(0, 1)->text(), QStringLiteral("127.0.0.10"));
    QCOMPARE(model->item(1, 0)->text(), QStringLiteral("Agent"));
    QCOMPARE(model->item(2, 0)->text(), QStringLiteral("Web Manager"));
    // An unknown type adds a row without cells.
    send(QStringLiteral("127.0.0.13"), 7, false);
    QCOMPARE(model->rowCount(), 4);
    QVERIFY(!model->item(3, 0) && !model->item(3, 1));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Type"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("IP"));
    // A clear request with an empty text empties the table and adds nothing.
    send(QString(), 2, true);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 2);
    // The two-argument form appends without clearing.
    QMetaObject::invokeMethod(window, "writeConnectionsLog",
                              Q_ARG(QString, QStringLiteral("127.0.0.14")), Q_ARG(int, 2));
    QCOMPARE(model->rowCount(), 1);
}

void TestMainWindow::closeHidesAndServerKeepsRunning()
{
    auto *log = window->findChild<QPlainTextEdit *>(QStringLiteral("mainLog"));
    QTRY_VERIFY_WITH_TIMEOUT(
        window->masterServer() && window->masterServer()->thread()->isRunning(), 20000);
    // The close event is ignored: the window hides, the program stays.
    QVERIFY(!window->close());
    QVERIFY(!window->isVisible());

    // Still running: Check DB goes to the server thread and its answer comes back.
    log->clear();
    window->findChild<QAction *>(QStringLiteral("actionCheckDB"))->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        log->toPlainText().contains(QLatin1String("Connection to DB successful")), 20000);

    // A double click on the tray icon brings the window back; a single click does nothing.
    QMetaObject::invokeMethod(window, "iconActivated",
                              Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::Trigger));
    QVERIFY(!window->isVisible());
    QMetaObject::invokeMethod(
        window, "iconActivated",
        Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::DoubleClick));
    QVERIFY(window->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindow::aboutNamesTheManager()
{
    const ModalMessageBox about = ModalMessageBox::readAndClose(
        [this] { window->findChild<QAction *>(QStringLiteral("actionAbout"))->trigger(); });
    // The server passes kind 0, so its About box reads "Manager".
    QCOMPARE(about.title, QStringLiteral("Kelvarix Manager"));
    QVERIFY2(about.text.startsWith(QLatin1String("<img src=\":/images/logo.png\"><br><br>")),
             qPrintable(about.text));
}

void TestMainWindow::screenshot()
{
    QMetaObject::invokeMethod(window, "writeConnectionsLog",
                              Q_ARG(QString, QStringLiteral("127.0.0.20")), Q_ARG(int, 2));
    QVERIFY(window->isVisible());
    QCoreApplication::processEvents();
    window->repaint();
    const QString file = XvfbDisplay::outputDir() + QStringLiteral("/server-window.png");
    QFile::remove(file);
    QVERIFY(display->screenshot(file));
    QVERIFY(QFileInfo(file).size() > 0);
}

void TestMainWindow::programStartsWithWindow()
{
    QTemporaryDir programDir;
    QVERIFY(loadSqlite(programDir.path()));
    ServerProcess server(programDir.path());
    server.setDisplay(display->display());
    QVERIFY(server.start());
    QVERIFY2(server.waitForMessage(QStringLiteral("Kelvarix Server is running .....")),
             qPrintable(server.output()));
    QCOMPARE(server.process().state(), QProcess::Running);
    server.process().terminate();
    QVERIFY(server.process().waitForFinished(10000));
    QCOMPARE(server.process().exitCode(), 0);
}

void TestMainWindow::noTrayShowsBoxAndExitsWithOne()
{
    XvfbDisplay bare;
    QVERIFY2(bare.start(false), qPrintable(bare.errorText()));
    QTemporaryDir programDir;
    QVERIFY(loadSqlite(programDir.path()));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), bare.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(env);
    program.start(ServerProcess::programPath(),
                  {QStringLiteral("--config-dir"), programDir.path()});
    QVERIFY(program.waitForStarted());
    program.setReadChannel(QProcess::StandardError);
    QByteArray errors;
    while (!errors.contains("couldn't detect any system tray") && program.waitForReadyRead(20000))
        errors += program.readAllStandardError();
    QVERIFY2(errors.contains("couldn't detect any system tray"), errors.constData());
    // The box is up; ending the program closes it and the program reports the failure.
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    // The server itself never started.
    QVERIFY(!QFile::exists(programDir.filePath(QStringLiteral("Server.log"))));
}

void TestMainWindow::messageTitle_data()
{
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addRow("agent without subtitle") << "" << 2 << "Kelvarix Agent";
    QTest::addRow("server about") << "About" << 1 << "Kelvarix Server - About";
    QTest::addRow("manager") << "" << 0 << "Kelvarix Manager";
    QTest::addRow("unknown kind") << "" << 9 << "Kelvarix ";
    QTest::addRow("unknown kind with subtitle") << "Info" << -1 << "Kelvarix  - Info";
}

void TestMainWindow::messageTitle()
{
    QFETCH(QString, subtitle);
    QFETCH(int, kind);
    QTEST(Utils::messageTitle(subtitle, kind), "title");
}

void TestMainWindow::messageBoxIsWiderThanTitle()
{
    const QString subtitle =
        QStringLiteral("A very long subtitle that is much wider than the text of the box itself");
    QScopedPointer<QMessageBox> box(
        Utils::createMessageBox(QStringLiteral("ok"), subtitle, 1, QMessageBox::Information));
    QCOMPARE(box->windowTitle(), QStringLiteral("Kelvarix Server - ") + subtitle);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->icon(), QMessageBox::Information);
    QVERIFY(!box->parent());
    auto *grid = qobject_cast<QGridLayout *>(box->layout());
    QVERIFY(grid);
    QLayoutItem *last = grid->itemAtPosition(grid->rowCount() - 1, 0);
    QVERIFY(last && last->spacerItem());
    const int titleWidth = QFontMetrics(box->font()).horizontalAdvance(box->windowTitle());
    QCOMPARE(last->sizeHint().width(), titleWidth + 100);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.data()));
    QVERIFY(box->width() >= titleWidth + 100);
}

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.start(true))
        return XvfbDisplay::unavailable(display.errorText());
    display.use();
    QApplication app(argc, argv);
    initServerResources();
    TestMainWindow test(&display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
