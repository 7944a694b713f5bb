// Where the settings file lives. The program has always kept it beside the executable, which
// stays the rule wherever that works; an installed program in /usr/bin cannot write there, so
// each user gets one in the configuration folder instead.
#include "mainform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString TfrmMain::settingsFilePath(const QString &executablePath)
{
    const QString beside = settingsFileName(executablePath);
    const QFileInfo besideFile(beside);
    const QFileInfo folder(besideFile.absolutePath());
    if ((besideFile.exists() && besideFile.isWritable()) || folder.isWritable())
        return beside;

    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (configFolder.isEmpty())
        return beside; // no home to go to: saving at close fails and says so, as beside any read-only folder
    // Named after the executable rather than the application title, which is Russian and has a space.
    const QString base = besideFile.completeBaseName();
    const QDir ownFolder(QDir(configFolder).filePath(base));
    // The settings file itself is still created only when the window closes.
    ownFolder.mkpath(QStringLiteral("."));
    return ownFolder.filePath(besideFile.fileName());
}
