#include "configwindow.h"

#include "modalbox.h"
#include "session.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace {
constexpr int kSettleMs = 3000;
}

ConfigWindow::ConfigWindow(const QByteArray &settings) : ConfigWindow(settings, {}) {}

ConfigWindow::ConfigWindow(const QByteArray &settings, const QString &settingsPath)
    : m_settingsPath(settingsPath.isEmpty() ? m_dir.filePath(QStringLiteral("indicator-config.ini")) : settingsPath)
{
    if (!settings.isNull()) {
        QFile file(m_settingsPath);
        QByteArray content = settings;
        content.replace("%PTY%", m_peer.devicePath().toLocal8Bit());
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write the settings file %s", qPrintable(m_settingsPath));
    }
    ModalBox::setInterceptor([this](QDialog &dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(&dialog))
            m_boxes.append({box->icon(), box->windowTitle(), box->text()});
        return int(QDialog::Accepted);
    });
    m_window = std::make_unique<TfrmMain>(nullptr, m_settingsPath);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        qFatal("the window does not show");
}

ConfigWindow::~ConfigWindow()
{
    m_window.reset();
    ModalBox::setInterceptor({});
}

QByteArray ConfigWindow::settingsFile() const
{
    QFile file(m_settingsPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void ConfigWindow::click(const char *buttonName)
{
    QTest::mouseClick(find<QAbstractButton>(buttonName), Qt::LeftButton);
    settle();
}

void ConfigWindow::trigger(const char *actionName)
{
    find<QAction>(actionName)->trigger();
    settle();
}

// Replies come as events: what a click asked of the line is over once the line is idle. The
// polls of a live page keep it busy; their tests wait for what they look at.
void ConfigWindow::settle()
{
    const Session &session = m_window->session();
    if (find<QTimer>("Timer")->isActive())
        return;
    QDeadlineTimer deadline(kSettleMs);
    while (!session.isIdle() && !deadline.hasExpired())
        QTest::qWait(1);
}

bool ConfigWindow::start()
{
    click("sbStart");
    return find<QAction>("ActionStop")->isEnabled();
}

void ConfigWindow::enterText(QLineEdit *edit, const QString &how, const QString &entry)
{
    edit->setFocus();
    edit->selectAll();
    if (how == QLatin1String("paste"))
        edit->insert(entry);
    else if (how == QLatin1String("type"))
        QTest::keyClicks(edit, entry);
    else if (how == QLatin1String("clear"))
        QTest::keyClick(edit, Qt::Key_Backspace);
    else if (how == QLatin1String("key"))
        QTest::keyClick(edit, entry == QLatin1String("Up") ? Qt::Key_Up : Qt::Key_Down);
    else
        qFatal("no way to enter text: %s", qPrintable(how));
}

QString ConfigWindow::statusText() const
{
    return find<QStatusBar>("StatusBar1")->currentMessage();
}

QString ConfigWindow::errorText() const
{
    return find<QLabel>("lblErrors")->text();
}

// In the role that the control draws its text with: edits in Text, labels in WindowText, closed
// lists and button captions in ButtonText.
QColor ConfigWindow::textColour(const char *name) const
{
    const QWidget *control = find<QWidget>(name);
    QPalette::ColorRole role = QPalette::Text;
    if (qobject_cast<const QLabel *>(control))
        role = QPalette::WindowText;
    else if (qobject_cast<const QComboBox *>(control) || qobject_cast<const QAbstractButton *>(control))
        role = QPalette::ButtonText;
    return control->palette().color(role);
}

QColor ConfigWindow::windowTextColour()
{
    return QApplication::palette().color(QPalette::WindowText);
}

QList<QByteArray> ConfigWindow::requests()
{
    if (!m_peer.settle(kSettleMs))
        qWarning("the device is still busy");
    return m_peer.requests();
}
