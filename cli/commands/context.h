#pragma once

#include "commandline.h"
#include "commandtable.h"
#include "linesetup.h"
#include "printer.h"
#include "profile.h"
#include "session.h"

#include <QList>
#include <QString>

#include <optional>

class QTextStream;

// The line and the device a command uses: the options given, the window's saved settings for
// the rest.
struct ChosenLine
{
    LineSetup setup;
    QString shownName; // "COM1 (/dev/ttyUSB0)" or the path given
    Profiles::Origin origin;
};

// What every command works with: what was asked, the printer of its results, the session on
// the line, and the steps that several commands take alike: choosing the line, connecting,
// reading the device whole and loading a profile file. Messages go to standard error, a line
// each, in the words the window uses.
class CommandContext
{
public:
    CommandContext(const Command &command, const Invocation &invocation, QTextStream &out, QTextStream &err);

    const Invocation &invocation() const { return m_invocation; }
    Printer &printer() { return m_printer; }
    Session &session() { return m_session; }
    QTextStream &err() { return m_err; }

    // Nothing, with the reason told, when neither the options nor the window's settings give
    // a usable line, or an address to a command that needs one.
    std::optional<ChosenLine> line();
    // Opens the port; false with the window's message told.
    bool connect(const ChosenLine &line);
    // The device whole, or nothing with every value that failed named.
    std::optional<Profiles::DeviceProfile> readDevice(const ChosenLine &line);
    // Nothing, with why told, for a file that is no profile.
    std::optional<Profiles::DeviceProfile> loadFile(const QString &path);
    // The units of --addresses, or the one device of the line.
    QList<quint8> polledAddresses(const ChosenLine &line) const;

    void note(const QString &message);
    // Tells the message; the exit status of a usage error.
    int usage(const QString &message);
    // The window's message for the code, and the code: a line in the window's language. The
    // exit status of a failure.
    int failed(const QString &what, qint16 code);

private:
    const Command &m_command;
    const Invocation &m_invocation;
    QTextStream &m_err;
    Printer m_printer;
    Session m_session;
};
