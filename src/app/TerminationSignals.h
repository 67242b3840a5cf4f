#pragma once

#include <QObject>
#include <memory>

namespace vantor {

// Turns SIGINT and SIGTERM into a Requested signal on the UI thread, so Ctrl+C in
// a terminal or a desktop logging out closes the program the same way as its
// window does. One instance at a time; the previous handlers are put back when it
// goes. Elsewhere than POSIX it watches nothing.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool IsWatching() const;

signals:
    void Requested(int signalNumber);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
