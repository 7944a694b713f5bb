#pragma once

#include "endpoint.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <utility>

// What indicator-cli was asked to do, from its command line. Options may stand before or after
// the command; each is checked strictly, and an option of another command is refused.
struct Invocation
{
    // The line; what is not given comes from the window's settings file.
    std::optional<QString> port;     // a device path, or COM1..
    std::optional<quint8> speedNumber; // rows of the tables of LineSettings
    std::optional<quint8> parity;
    std::optional<quint8> stopBits;
    std::optional<int> address;
    bool json = false;
    bool help = false;

    QString command; // empty with help alone
    QStringList arguments;

    // load
    bool withLineSettings = false;
    bool dryRun = false;
    bool force = false;
    // scan, watch and test
    std::optional<QList<quint8>> addresses; // in the order given
    bool allAddresses = false; // scan: every address at the one setting
    // test
    std::optional<double> expected;
    std::optional<double> tolerance;
    std::optional<double> sigmaLimit;
    std::optional<int> minReadings;
    std::optional<qint64> longestS; // --max-duration
    QString reportPath; // --report: .html or .pdf; empty for none
    QList<quint8> speeds;   // empty: every one
    QList<quint8> parities; // empty: every one
    // watch
    int intervalMs = 1000;
    qint64 count = 0; // 0: until stopped
    bool csv = false;
    // listen and test
    qint64 durationS = 0; // 0: until stopped, or the test's own length
    // serve: where each kind of client is taken
    std::optional<Endpoint> modbusTcpAt;
    std::optional<Endpoint> rtuTcpAt;
};

namespace CommandLine {

// The arguments without the program name; nothing with error set on a usage error, its control
// characters escaped.
std::optional<Invocation> parse(const QStringList &arguments, QString *error);

QStringList commands();
// The options of a command, or the global ones for an empty name; each as written ("--port").
QStringList options(const QString &command = {});
// Whether the option takes a value ("--port DEV") or stands alone ("--json").
bool takesValue(const QString &option);

QString programHelp();
QString commandHelp(const QString &command);

} // namespace CommandLine
