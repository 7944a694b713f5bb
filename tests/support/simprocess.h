#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// indicator-sim running as a child process for the length of a test. The constructor starts it
// and waits, within a bound, for the device path on its first output line; the destructor ends
// it by its own process id. Its log goes to this process's standard error.
//
//     SimProcess sim({"--slave", "7"});
//     QVERIFY2(sim.started(), "no indicator-sim");
//     adapter.PortName = sim.devicePath();
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments = {}, int startTimeoutMs = 5000);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool started() const { return !m_devicePath.isEmpty(); }
    // The pseudo-terminal to open; empty when the simulator did not come up.
    QString devicePath() const { return m_devicePath; }
    qint64 processId() const { return m_process.processId(); }

    // Sends `signal` and waits for the simulator to end: its exit code, or -1 when it crashed
    // or did not end within the bound.
    int stop(int signal, int timeoutMs = 5000);

    // The executable that the build made.
    static QString program();

private:
    QProcess m_process;
    QString m_devicePath;
};
