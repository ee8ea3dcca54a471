#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

class QAction;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QStandardItemModel;
class QTableView;
class QToolBar;
class MasterServer;
class ServerRunner;

// The server's window: the log, the connected machines and managers, Check DB, Clear,
// About and Exit, and the tray icon. It only shows what MasterServer emits; the server
// itself runs in its own thread, which the constructor starts.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // programDir is handed to MasterServer (empty: the executable's directory).
    explicit MainWindow(const QString &programDir = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    MasterServer *masterServer() const;
    QSystemTrayIcon *trayIcon() const;
    QStandardItemModel *connectionsModel() const;

public slots:
    void writeUILog(QString Msg);
    void writeConnectionsLog(QString msg, int componentType, bool clear);
    void writeConnectionsLog(QString msg, int componentType);

private slots:
    void clear();
    void showContextMenu(QPoint pos);
    void about();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWidgets();
    void buildActions();
    void buildTrayIcon();
    void setConnectionsHeaders();

    QWidget *centralwidget = nullptr;
    QGroupBox *groupBox_admins = nullptr;
    QTableView *table_admins = nullptr;
    QGroupBox *logGroupBox = nullptr;
    QPlainTextEdit *mainLog = nullptr;
    QAction *actionCheckDB = nullptr;
    QAction *actionClear = nullptr;
    QAction *actionExit = nullptr;
    QAction *actionAbout = nullptr;
    QMenu *menuManager = nullptr;
    QMenu *menuHelp = nullptr;
    QToolBar *toolBar = nullptr;
    QSystemTrayIcon *tray = nullptr;
    QMenu *trayMenu = nullptr;
    QStandardItemModel *connections = nullptr;
    ServerRunner *runner = nullptr;
};
