#pragma once

#include <QProcess>
#include <QString>

namespace vantor::e2e {

// A private JACK server with the dummy driver, for this test alone. It runs in
// synchronous mode: in the default asynchronous mode a client that misses its
// period (common on a loaded two-core machine) has its MIDI buffer read while it
// is rewritten, and whole periods of messages arrive doubled or not at all.
// Sets JACK_DEFAULT_SERVER and JACK_NO_START_SERVER for this process and every
// process it starts afterwards.
class JackServer
{
public:
    explicit JackServer(const QString& logPath);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    QString Name() const { return name_; }
    // Periods in which some client had not finished, as the server logged them.
    int Overruns() const;
    bool Stop();

private:
    QProcess server_;
    QString name_;
    QString logPath_;
};

}  // namespace vantor::e2e
