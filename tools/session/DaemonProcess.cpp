// SPDX-License-Identifier: BSD-3-Clause
#include "DaemonProcess.h"

DaemonProcess::DaemonProcess(QObject *parent)
    : SessionProcess(parent)
{
    connect(this, &QProcess::readyReadStandardError, this, &DaemonProcess::readLog);
}

void DaemonProcess::setLogFile(const QString &path)
{
    mLogFile.close();
    mLogFile.setFileName(path);
    mLogFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void DaemonProcess::start(const QProcessEnvironment &environment, const QStringList &arguments,
                          const QStringList &wrapper)
{
    setProcessEnvironment(environment);
    mLog.clear();
    const QStringList command = wrapper + QStringList{QStringLiteral(DAEMON_BINARY)} + arguments;
    QProcess::start(command.first(), command.mid(1));
}

QString DaemonProcess::log()
{
    readLog();
    return mLog;
}

void DaemonProcess::readLog()
{
    const QByteArray bytes = readAllStandardError();
    if (bytes.isEmpty())
        return;
    if (mLogFile.isOpen()) {
        mLogFile.write(bytes);
        mLogFile.flush();
    }
    mLog += QString::fromUtf8(bytes);
}
