#pragma once

#include "mainform.h"
#include "ptypeer.h"

#include <QByteArray>
#include <QColor>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QTemporaryDir>

#include <memory>

// The configurator's window as a user meets it, on a settings file of its own in a temporary
// folder, with a scripted device on a pseudo-terminal. In the settings text, %PTY% stands for
// the device's path, so "[PORTS]\nCOM2=%PTY%\n" puts the device behind the default port COM2.
// Message boxes are caught and kept in boxes() instead of waiting for a user.
class ConfigWindow
{
public:
    struct Box
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };

    static QByteArray deviceOnCom2() { return "[PORTS]\nCOM2=%PTY%\n"; }

    // settings: the file's content; a null array for no file at all.
    explicit ConfigWindow(const QByteArray &settings = deviceOnCom2());
    // As above with the settings file at settingsPath, which may be where no file can be.
    ConfigWindow(const QByteArray &settings, const QString &settingsPath);
    ~ConfigWindow();

    TfrmMain &window() { return *m_window; }
    PtyPeer &peer() { return m_peer; }
    QString settingsPath() const { return m_settingsPath; }
    QByteArray settingsFile() const; // "<none>" when there is no file
    const QList<Box> &boxes() const { return m_boxes; }

    template <typename T = QWidget>
    T *find(const char *name) const
    {
        T *widget = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no %s named %s", T::staticMetaObject.className(), name);
        return widget;
    }

    // A click, or an action triggered, and the exchanges it asked for answered.
    void click(const char *buttonName);
    void trigger(const char *actionName);
    void settle();
    // Clicks "Старт"; true when the connection is up.
    bool start();
    void stop() { click("sbStop"); }

    // Changes an edit's text as a user would: "paste" puts entry in place of the whole text at
    // once, "type" types it key by key over the selected text, "clear" deletes the text, "key"
    // presses the key named by entry ("Up" or "Down").
    static void enterText(QLineEdit *edit, const QString &how, const QString &entry);

    QString statusText() const;
    QString errorText() const;
    // The colour of a control's text.
    QColor textColour(const char *name) const;
    static QColor failureColour() { return QColor(255, 0, 0); }
    static QColor windowTextColour();

    // The requests the device has seen, once the line has been quiet.
    QList<QByteArray> requests();

private:
    QTemporaryDir m_dir;
    PtyPeer m_peer;
    QString m_settingsPath;
    QList<Box> m_boxes;
    std::unique_ptr<TfrmMain> m_window;
};
