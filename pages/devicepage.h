#pragma once

#include "parammap.h"
#include "session.h"

#include <QGroupBox>

#include <functional>
#include <optional>

class QAbstractButton;

// One page of the device's values: a group box that the main window shows in its page area,
// whose controls are bound to catalogue parameters and exchange through the connection's
// session.
class DevicePage : public QGroupBox
{
    Q_OBJECT

public:
    // The window's timer polls a live page every 100 ms.
    static constexpr int kPollIntervalMs = 100;

    DevicePage(Session &session, QWidget *parent);

    // The room the page's form takes, its controls where the form places them, with the same
    // margin right and below as left; a live page's own layout says what it needs with its
    // trend. The window opens at the size its largest page asks for.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The room that controls placed by their form take in a widget, with the margin they keep
    // on the left kept on the right and below too.
    static QSize formExtent(const QWidget *form);

    // What the page does when the window shows it: a page of settings reads them all.
    virtual void enter() {}
    // One poll of a live page, at every tick of the window's timer while the page is shown;
    // polled() says when its last reply is in.
    virtual void poll() {}
    // Forgets the page's requests that have not been answered: the page is being left.
    void cancelExchanges() { m_session.cancel(this); }
    // A request of the page is queued or under way.
    bool isExchanging() const { return m_session.hasPending(this); }

signals:
    void polled();

protected:
    enum class Exchange { Read, Write };

    // One control showing one catalogue parameter, and the buttons that read and write it.
    struct Binding
    {
        TParamId id;
        QAbstractButton *readButton;  // none: read by the page's poll
        QAbstractButton *writeButton; // none: read only
        // Its text turns red after a failure and back after a success; none: no colour.
        QWidget *control;
        // Puts a value into the control: the value read, or after a write the value sent.
        std::function<void(const QVariant &)> show;
        // What a write sends. A value the catalogue refuses is reported and not sent; none: the
        // write does nothing at all.
        std::function<std::optional<QVariant>()> value = {};
        // The page's own step after an exchange, with its result code.
        std::function<void(Exchange, qint16)> after = {};
        bool colourWrites = true; // false: a write shows its outcome in after() alone
    };

    // Keeps the page's bindings and connects their buttons to their reads and writes.
    void bind(QList<Binding> bindings);
    const Binding &binding(TParamId id) const;
    // Every binding read once, in the order of the table: each read on its own, so that a
    // failure does not stop the ones after it and the error area ends with the last.
    void readAll();
    // The common procedures on a binding: nothing at all while not connected (false); otherwise
    // one exchange queued, and once its reply is in, its outcome in the error area and the
    // control's colour, the value shown, and then the page's own step with the result code.
    using Then = std::function<void(qint16 code)>;
    bool read(const Binding &binding, Then then = {});
    bool write(const Binding &binding);
    // Pure red after a failure, the system's window-text colour after a success.
    static void colourOutcome(qint16 code, QWidget *control);
    // What a live page's log says first: the device's address, the line and the poll interval.
    QList<std::pair<QString, QString>> logAbout() const;

    Session &m_session;

private:
    QList<Binding> m_bindings;
};
