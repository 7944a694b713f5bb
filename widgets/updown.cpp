#include "updown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

UpDown::UpDown(QWidget *parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    m_up->setObjectName(QStringLiteral("upArrow"));
    m_down->setObjectName(QStringLiteral("downArrow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *button : {m_up, m_down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    connect(m_up, &QToolButton::clicked, this, [this] { step(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
    // An arrow repeating emits released at every repeat, held down still; and at the last one
    // before clicked, which steps. Heard after both, and only once the arrow is up.
    for (QToolButton *button : {m_up, m_down})
        connect(
            button, &QToolButton::released, this,
            [this, button] {
                if (!button->isDown())
                    emit stepsEnded();
            },
            Qt::QueuedConnection);
}

void UpDown::setMinimum(int minimum)
{
    m_minimum = minimum;
    setPosition(m_position);
}

void UpDown::setMaximum(int maximum)
{
    m_maximum = maximum;
    setPosition(m_position);
}

void UpDown::setPosition(int position)
{
    position = qBound(m_minimum, position, m_maximum);
    if (position == m_position)
        return;
    m_position = position;
    if (m_buddy && m_buddy->text() != QString::number(position))
        m_buddy->setText(QString::number(position));
    emit positionChanged(position);
}

void UpDown::propose(int position)
{
    if (position == m_position || (m_check && !m_check(position)))
        return;
    setPosition(position);
}

void UpDown::step(int delta)
{
    propose(m_position + delta);
}

void UpDown::setBuddy(QLineEdit *buddy)
{
    if (m_buddy)
        m_buddy->removeEventFilter(this);
    m_buddy = buddy;
    m_buddy->installEventFilter(this);
}

bool UpDown::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_buddy && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            if (event->type() == QEvent::KeyPress)
                step(key->key() == Qt::Key_Up ? +1 : -1);
            else if (!key->isAutoRepeat())
                emit stepsEnded();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
