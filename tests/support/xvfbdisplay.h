#pragma once

#include <QProcess>
#include <QString>

// A private X display for window tests: Xvfb on a display number it picks itself, and
// optionally trayer as the notification area, so that tray icons can really be shown.
// Start it before the QApplication and point the process at it with use().
//
//     int main(int argc, char **argv) {
//         XvfbDisplay display;
//         if (!display.start(true)) return XvfbDisplay::unavailable(display.errorText());
//         display.use();
//         QApplication app(argc, argv); ...
class XvfbDisplay
{
public:
    XvfbDisplay() = default;
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;

    bool start(bool withTray);
    void stop();
    // Sets DISPLAY and selects the X11 platform plugin for this process.
    void use() const;
    QString display() const;
    QString errorText() const;

    // Saves the whole screen as PNG (ImageMagick's import).
    bool screenshot(const QString &fileName) const;

    // The build tree's directory for files tests leave behind (screenshots).
    static QString outputDir();
    // What a test program returns without a display: 1 under CI, 0 (skipped) elsewhere.
    static int unavailable(const QString &why);

private:
    QProcess xvfb;
    QProcess tray;
    QString displayName;
    QString error;
};
