#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vantor::e2e {

// A private X server (Xvfb on a display number it picks itself) and the user's
// hands and eyes on it: xdotool for the pointer and the keyboard, ImageMagick's
// import for screenshots. Every failure of a tool throws std::runtime_error.
class XDisplay
{
public:
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    QString Name() const { return name_; }  // ":N"
    qint64 ServerPid() const { return server_.processId(); }
    // Ends the server; true when it is gone.
    bool Stop();

    // Visible windows whose name matches the regular expression, as xdotool ids.
    QStringList Windows(const QString& namePattern) const;
    // Visible windows of a process (its main window, dialogs, drop-down lists).
    QStringList WindowsOf(qint64 pid) const;
    // The window's rectangle on the screen.
    QRect Geometry(const QString& window) const;
    void Focus(const QString& window) const;

    void Click(QPoint screen) const;
    // Moves the pointer off every window, so no hover effect or tool tip covers what
    // the next screenshot checks.
    void ParkPointer() const;
    // xdotool key names, pressed and released one after another ("ctrl+o", "space").
    void Keys(const QStringList& keys) const;
    void Type(const QString& text) const;

    QImage Screenshot() const;

    // Runs xdotool (or any X client) on this display; returns its standard output.
    QString Run(const QString& program, const QStringList& arguments, int timeoutMs = 10000) const;

private:
    QStringList Search(const QStringList& criteria) const;

    QProcess server_;
    QString name_;
};

}  // namespace vantor::e2e
