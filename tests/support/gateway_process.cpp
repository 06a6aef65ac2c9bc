#include "support/gateway_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

quint16 gateway_process::free_port()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

gateway_process::gateway_process(
    const QMap<QString, QString>& ini, const QMap<QString, QString>& env)
    : dir_(new QTemporaryDir)
    , ini_(ini)
    , env_(env)
{
    if (!ini_.contains("QHTTP_SETTINGS/PORT"))
        ini_["QHTTP_SETTINGS/PORT"] = QString::number(free_port());
    if (!ini_.contains("QHTTP_SETTINGS/HOST"))
        ini_["QHTTP_SETTINGS/HOST"] = "127.0.0.1";
    if (!ini_.contains("GENERAL_SETTINGS/LOG_FILE_PATH"))
        ini_["GENERAL_SETTINGS/LOG_FILE_PATH"] = "stdout";
    if (!ini_.contains("GENERAL_SETTINGS/LOG_LEVEL"))
        ini_["GENERAL_SETTINGS/LOG_LEVEL"] = "DEBUG";
    port_ = ini_["QHTTP_SETTINGS/PORT"].toUShort();
    write_ini();
}

gateway_process::~gateway_process()
{
    stop();
}

QString gateway_process::ini_path() const
{
    return dir_->filePath("gorvex.ini");
}
QString gateway_process::dir() const
{
    return dir_->path();
}

void gateway_process::write_ini()
{
    // Written by hand, values quoted, so that "," and ";" survive the ini format.
    QMap<QString, QMap<QString, QString>> groups;
    for (auto it = ini_.begin(); it != ini_.end(); ++it) {
        const int slash = it.key().indexOf('/');
        groups[it.key().left(slash)][it.key().mid(slash + 1)] = it.value();
    }
    QByteArray text;
    for (auto g = groups.begin(); g != groups.end(); ++g) {
        text += "[" + g.key().toUtf8() + "]\n";
        for (auto k = g.value().begin(); k != g.value().end(); ++k) {
            QString v = k.value();
            v.replace("\\", "\\\\").replace("\"", "\\\"");
            text += k.key().toUtf8() + "=\"" + v.toUtf8() + "\"\n";
        }
        text += "\n";
    }
    const QString tmp = ini_path() + ".tmp";
    QFile f(tmp);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    f.close();
    QFile::remove(ini_path());
    QFile::rename(tmp, ini_path());
}

void gateway_process::set_ini(const QString& key, const QString& value)
{
    ini_[key] = value;
    write_ini();
}

bool gateway_process::start_no_wait()
{
    proc_.reset(new QProcess);
    proc_->setProcessChannelMode(QProcess::MergedChannels);
    proc_->setWorkingDirectory(dir_->path());
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    // A sanitizer run checks the gateway for leaks while the test programs themselves do not.
    if (e.contains("GORVEX_GATEWAY_ASAN_OPTIONS"))
        e.insert("ASAN_OPTIONS", e.value("GORVEX_GATEWAY_ASAN_OPTIONS"));
    for (auto it = env_.begin(); it != env_.end(); ++it)
        e.insert(it.key(), it.value());
    proc_->setProcessEnvironment(e);
    proc_->start(GORVEX_BINARY, { "-c", ini_path() });
    return proc_->waitForStarted(10000);
}

bool gateway_process::start(int wait_ms)
{
    if (!start_no_wait())
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < wait_ms) {
        if (proc_->state() != QProcess::Running)
            return false;
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port_);
        if (s.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

bool gateway_process::running() const
{
    return proc_ && proc_->state() == QProcess::Running;
}

int gateway_process::wait_for_exit(int wait_ms)
{
    if (!proc_)
        return -1;
    if (proc_->state() != QProcess::NotRunning && !proc_->waitForFinished(wait_ms))
        return -1;
    out_ += proc_->readAll();
    return proc_->exitStatus() == QProcess::NormalExit ? proc_->exitCode() : -1;
}

void gateway_process::stop()
{
    if (!proc_)
        return;
    if (proc_->state() != QProcess::NotRunning) {
        proc_->terminate();
        // A sanitizer build looks for leaks at exit, which takes a while.
        const int code = wait_for_exit(15000);
        if (proc_->state() != QProcess::NotRunning) {
            proc_->kill();
            proc_->waitForFinished(5000);
        }
        out_ += proc_->readAll();
        EXPECT_EQ(code, 0) << "gorvex did not stop cleanly on SIGTERM:\n" << out_.constData();
    }
    out_ += proc_->readAll();
    proc_.reset();
}

QByteArray gateway_process::output()
{
    if (proc_) {
        proc_->waitForReadyRead(50);
        out_ += proc_->readAll();
    }
    return out_;
}

bool gateway_process::wait_for_output(const QByteArray& needle, int wait_ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < wait_ms) {
        if (output().contains(needle))
            return true;
        if (proc_)
            proc_->waitForReadyRead(100);
    }
    return output().contains(needle);
}
