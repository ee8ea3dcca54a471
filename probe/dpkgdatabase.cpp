#include "dpkgdatabase.h"

#include "probelog.h"

#include <QFile>

bool DpkgDatabase::installedPackages(const QString &statusFile, QVector<Package> &packages)
{
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcProbe) << "dpkg status" << statusFile << "cannot be read";
        return false;
    }
    Package current;
    bool installed = false;
    auto finish = [&]() {
        if (installed && !current.name.isEmpty())
            packages.append(current);
        current = Package();
        installed = false;
    };
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine();
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty()) {
            finish();
            continue;
        }
        // Continuation lines of long fields start with a blank.
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0 || raw.startsWith(' ') || raw.startsWith('\t'))
            continue;
        const QString field = line.left(colon);
        const QString value = line.mid(colon + 1).trimmed();
        if (field == QLatin1String("Package"))
            current.name = value;
        else if (field == QLatin1String("Status"))
            installed = value.endsWith(QLatin1String(" installed"));
        else if (field == QLatin1String("Architecture"))
            current.architecture = value;
        else if (field == QLatin1String("Version"))
            current.version = value;
        else if (field == QLatin1String("Maintainer"))
            current.maintainer = value;
        else if (field == QLatin1String("Description"))
            current.summary = value;
    }
    finish();
    return true;
}
