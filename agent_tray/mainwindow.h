#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

class Agent;
class QAction;
class QGroupBox;
class QHBoxLayout;
class QMenu;
class QPlainTextEdit;
class QThread;
class QToolBar;
class QVBoxLayout;

// The agent's desktop form: the tray icon and its menu, and a window with the agent's log
// and a few actions. The Agent runs in a thread of its own, which the constructor starts;
// everything between the two is queued, except switching logging, which sets one flag.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `agentDirectory` holds Agent.ini, Agent.key and Agent.log (empty: the program's).
    explicit MainWindow(const QString &agentDirectory = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    QSystemTrayIcon *systemTrayIcon() const { return trayIcon; }
    QThread *agentThread() const { return agentRunThread; }
    // Lives in agentThread(); reach it only through queued calls.
    Agent *runningAgent() const { return agent; }

signals:
    void sendBlindPacket();

public slots:
    void writeUiLogSlot(QString line);

private slots:
    void about();
    void blindPacket();
    void disconnect();
    void loggingTriggered();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void showWindow();
    void startUpChanged(bool on);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    void buildActions();
    void buildMenus();
    void buildTrayIcon();
    void makeConnections();
    // A line in the agent's log, written in the agent's thread.
    void logThroughAgent(const QString &message);

    QWidget *formWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QGroupBox *groupBox = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QPlainTextEdit *plainTextEdit = nullptr;
    QAction *actionAbout = nullptr;
    QAction *actionClear = nullptr;
    QAction *actionManual_disconnect = nullptr;
    QAction *actionQuit = nullptr;
    QAction *actionLog_Details = nullptr;
    QAction *actionRun_on_startup = nullptr;
    QAction *actionContact_server = nullptr;
    QMenu *menuAgent_2 = nullptr;
    QMenu *menuHelp = nullptr;
    QToolBar *toolBar = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayIconMenu = nullptr;

    Agent *agent = nullptr;
    QThread *agentRunThread = nullptr;
    bool logging = true;
    // Set once the agent has asked for the window; until then double clicks leave it hidden.
    bool mayShow = false;
};
