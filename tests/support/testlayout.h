#pragma once

#include <QString>
#include <QTemporaryDir>

// A server machine's base directory in a temporary folder (<tmp>/base/kelvarix, httpd, ...),
// laid out by `cmake --install` of this build tree or copied from the layout's templates.
// The folders are open to other accounts, since the database cluster runs as postgres.
// Whatever is still running from it at the end (Apache, the cluster, the web manager, the
// server program) is stopped by the destructor, found through its pid files.
//
//     TestLayout layout;
//     QVERIFY2(layout.install(), qPrintable(layout.errorText()));
//     QVERIFY(layout.writeServicesIni(freeTcpPort(), freeTcpPort()));
class TestLayout
{
public:
    TestLayout();
    ~TestLayout();
    TestLayout(const TestLayout &) = delete;
    TestLayout &operator=(const TestLayout &) = delete;

    bool isValid() const;
    // cmake --install of this build into the base directory.
    bool install();
    // Only the templates and the SQL files: for tests of single tools.
    bool copyTemplates();
    bool writeServicesIni(int postgresPort, int webManagerPort);

    QString baseDir() const;
    QString programDir() const;
    QString errorText() const;

    // Reads a file of the layout whole, as UTF-8 ("" when missing).
    QString readFile(const QString &relativePath) const;
    bool writeFile(const QString &relativePath, const QString &text) const;

    static QString templatesDir();
    static QString buildDir();

private:
    void stopLeftovers();

    QTemporaryDir root;
    QString base;
    QString error;
};
