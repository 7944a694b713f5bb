#pragma once

#include <QWidget>

#include <functional>

class QLineEdit;
class QToolButton;

// A spinner: two arrow buttons that step a whole-number position within minimum..maximum, without
// wrapping, and show it in a buddy edit. The Up and Down keys in the buddy step it as well.
//
// A check, when set, sees every proposed position first (arrows and propose()) and may refuse it.
class UpDown : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int position READ position WRITE setPosition NOTIFY positionChanged)

public:
    using Check = std::function<bool(int proposed)>;

    explicit UpDown(QWidget *parent = nullptr);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int position() const { return m_position; }
    void setMinimum(int minimum);
    void setMaximum(int maximum);

    // Takes the position, or the nearer bound for one outside the range, without the check.
    void setPosition(int position);
    // Offers a new position to the check; an accepted one is taken as by setPosition.
    void propose(int position);

    void setCheck(Check check) { m_check = std::move(check); }
    // The edit that shows the position and whose Up and Down keys step it.
    void setBuddy(QLineEdit *buddy);

signals:
    void positionChanged(int position);
    // An arrow let go of, or an Up or Down key released in the buddy: a run of steps, however
    // long its auto-repeat, has ended where the position is now.
    void stepsEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step(int delta);

    QToolButton *m_up;
    QToolButton *m_down;
    QLineEdit *m_buddy = nullptr;
    Check m_check;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_position = 0;
};
