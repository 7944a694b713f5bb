// indicator-report-pdf OUT.pdf: the bench report's HTML page, read from standard input, printed
// to OUT.pdf. indicator-cli runs it for `test --report FILE.pdf`: laying text out takes Qt Gui,
// which the command line keeps out of its own process.
#include "reportpdf.h"

#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
#ifndef Q_OS_WIN
    // Nothing is shown: no display is needed, as for the command line that runs this.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("indicator-config"));
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        err << "usage: indicator-report-pdf OUT.pdf < report.html\n";
        return 2;
    }
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        err << "standard input not read: " << in.errorString() << '\n';
        return 1;
    }
    const QString failure = ReportPdf::write(QString::fromUtf8(in.readAll()), arguments[1]);
    if (!failure.isEmpty()) {
        err << failure << '\n';
        return 1;
    }
    return 0;
}
