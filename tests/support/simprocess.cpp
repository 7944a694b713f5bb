#include "simprocess.h"

#include <QDeadlineTimer>

#include <csignal>

#include <sys/prctl.h>

namespace {
// After SIGTERM the simulator leaves its loop within its 100 ms stop check.
constexpr int kStopTimeoutMs = 5000;
} // namespace

SimProcess::SimProcess(const QStringList &arguments, int startTimeoutMs)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes takes its simulator with it.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(program(), arguments, QIODevice::ReadOnly);

    const QDeadlineTimer deadline(startTimeoutMs);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    if (m_process.canReadLine())
        m_devicePath = QString::fromLocal8Bit(m_process.readLine().trimmed());
}

SimProcess::~SimProcess()
{
    if (m_process.state() != QProcess::NotRunning)
        stop(SIGTERM, kStopTimeoutMs);
}

int SimProcess::stop(int signal, int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    ::kill(pid_t(m_process.processId()), signal);
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopTimeoutMs);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString SimProcess::program() { return QStringLiteral(INDICATOR_SIM_PROGRAM); }
