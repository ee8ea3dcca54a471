#pragma once

#include <QString>

#include <memory>

class QCoreApplication;

// Where --install puts the unit file unless KELVARIX_SYSTEMD_UNIT_DIR names another directory.
extern const char kDefaultUnitDirectory[];
extern const char kUnitFileName[];

// A program that runs as a system service: in the foreground, as systemd starts it, until
// SIGTERM. The derived class supplies what runs; the switches and signals are handled here.
class ServiceBase
{
public:
    enum ServiceFlag { Default = 0x0, CanBeSuspended = 0x1 };

    ServiceBase(int argc, char **argv, const QString &name);
    virtual ~ServiceBase();

    QString serviceName() const { return name; }
    QString serviceDescription() const { return description; }
    void setServiceDescription(const QString &text) { description = text; }
    int serviceFlags() const { return flags; }
    void setServiceFlags(int value) { flags = value; }

    // Handles the command line and, for a run, returns the exit code once the service stopped.
    int exec();

    // The unit file for a program at `programPath`.
    static QString unitFileText(const QString &programPath);

protected:
    virtual void start() = 0;
    virtual void stop();
    virtual void pause();
    virtual void resume();
    virtual void processCommand(int code);
    virtual void createApplication(int &argc, char **argv);
    virtual int executeApplication();

    QCoreApplication *application() const { return app.get(); }

private:
    int run();
    int installUnit();
    int uninstallUnit();
    static QString unitDirectory();

    int argc;
    char **argv;
    QString name;
    QString description;
    int flags = Default;
    std::unique_ptr<QCoreApplication> app;
};
