#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// The real gorvex binary, started with an ini file of the test's own in a temp directory.
// Log lines go to stdout and are kept for the test to read.
class gateway_process
{
public:
    // ini: "GROUP/KEY" -> value, written into the temp ini. QHTTP_SETTINGS/PORT defaults to a
    // free port, GENERAL_SETTINGS/LOG_FILE_PATH to stdout and LOG_LEVEL to DEBUG.
    explicit gateway_process(
        const QMap<QString, QString>& ini = {}, const QMap<QString, QString>& env = {});
    ~gateway_process();

    // Starts the binary and waits until its port accepts connections (or it exits).
    bool start(int wait_ms = 15000);
    // Starts it and returns at once (for a port that cannot be bound, say).
    bool start_no_wait();
    // Stops it as an operator does (SIGTERM). A gateway still running must then exit with
    // status 0 (which a sanitizer build does not when it found leaks): the test fails otherwise.
    void stop();
    bool running() const;
    // Waits for the process to end; its exit code, or -1 when it crashed or did not end.
    int wait_for_exit(int wait_ms = 15000);

    quint16 port() const { return port_; }
    // The running binary's process id; 0 when it does not run.
    qint64 pid() const { return proc_ ? proc_->processId() : 0; }
    QString ini_path() const;
    QString dir() const;
    // Rewrites one ini value while the gateway runs.
    void set_ini(const QString& key, const QString& value);

    // All stdout so far (waits events briefly to drain the pipe).
    QByteArray output();
    // Waits until `needle` appears in stdout.
    bool wait_for_output(const QByteArray& needle, int wait_ms = 10000);

    static quint16 free_port();

private:
    void write_ini();
    std::unique_ptr<QTemporaryDir> dir_;
    QMap<QString, QString> ini_;
    QMap<QString, QString> env_;
    quint16 port_ = 0;
    std::unique_ptr<QProcess> proc_;
    QByteArray out_;
};
