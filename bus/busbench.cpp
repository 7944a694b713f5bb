#include "busbench.h"

#include "profilereader.h"

#include <QTimer>

namespace {

// How often a test under way asks whether it may end, besides after each poll: a line whose
// units have all gone silent brings no poll to ask.
constexpr int kTestCheckMs = 250;

} // namespace

BusBench::BusBench(Session &session, const QString &lineCaption, QObject *parent)
    : QObject(parent), m_session(session), m_lineCaption(lineCaption), m_testTimer(new QTimer(this))
{
    connect(m_testTimer, &QTimer::timeout, this, &BusBench::endTestWhenOver);
}

void BusBench::writeProfile(const QList<Bus::Unit> &units, const Profiles::DeviceProfile &profile,
                            const QString &profileName, const Profiles::Origin &line,
                            const ProfileCloning::Question &askOtherVersion)
{
    if (m_cloning)
        m_cloning->deleteLater();
    m_cloning = new ProfileCloning(m_session, profile, askOtherVersion, this);
    connect(m_cloning, &ProfileCloning::ended, this, &BusBench::unitWritten);
    m_profileName = profileName;
    m_profileFailures.clear();
    m_profileUnits = units;
    m_line = line;
    m_profileRow = 0;
    writeProfileIntoNext();
}

void BusBench::forgetProfile()
{
    m_profileName.clear();
    m_profileFailures.clear();
}

void BusBench::writeProfileIntoNext()
{
    if (m_profileRow >= m_profileUnits.size()) {
        m_profileUnits.clear();
        emit profileWrittenIntoAll();
        return;
    }
    Profiles::Origin unit = m_line;
    unit.address = m_profileUnits[m_profileRow].address;
    emit writingProfileInto(quint8(unit.address));
    m_cloning->writeInto(unit);
}

void BusBench::unitWritten()
{
    QString failure;
    switch (m_cloning->outcome()) {
    case ProfileCloning::Outcome::NotRead: {
        const QList<ProfileReader::Failure> &failures = m_cloning->reader()->failures();
        failure = QStringLiteral("не прочитан: %1").arg(failures.isEmpty() ? QString() : failures.constFirst().text);
        break;
    }
    case ProfileCloning::Outcome::OtherVersion:
        failure = QStringLiteral("другая версия программы: не записано");
        break;
    case ProfileCloning::Outcome::Written:
        if (!m_cloning->writer()->allConfirmed())
            failure = m_cloning->writer()->summary();
        break;
    }
    const int row = m_profileRow++;
    m_profileFailures.insert(m_profileUnits[row].address, failure);
    emit profileWritten(row, failure);
    writeProfileIntoNext();
}

void BusBench::startTest(Bus::Poller &poller, const BenchTest::Limits &limits)
{
    if (m_poller)
        disconnect(m_poller, nullptr, this, nullptr);
    m_poller = &poller;
    m_run.emplace(poller.units(), limits, poller.now());
    connect(&poller, &Bus::Poller::unitPolled, this, &BusBench::record);
    m_testTimer->start(kTestCheckMs);
}

bool BusBench::isTesting() const
{
    return m_testTimer->isActive();
}

// A unit's poll into the test under way, and whether that was the test's last.
void BusBench::record(int row)
{
    if (!isTesting() || row < 0 || row >= m_poller->units().size())
        return;
    m_run->record(m_poller->units()[row]);
    emit unitRecorded(row);
    endTestWhenOver();
}

void BusBench::endTestWhenOver()
{
    if (m_poller && m_run->isOver(m_poller->now(), m_poller->units()))
        endTest();
}

void BusBench::abortTest()
{
    if (!isTesting())
        return;
    m_run->abort(m_poller->now());
    endTest();
}

void BusBench::stop()
{
    m_testTimer->stop();
    if (m_cloning)
        m_cloning->cancel();
    m_profileUnits.clear();
    if (m_poller)
        disconnect(m_poller, nullptr, this, nullptr);
}

void BusBench::endTest()
{
    m_testTimer->stop();
    m_run->finish(m_poller->now());
    BenchTest::Report report;
    report.when = QDateTime::currentDateTime();
    report.line = m_lineCaption;
    report.limits = m_run->limits();
    report.profile = m_profileName;
    for (const Bus::Unit &unit : m_poller->units()) {
        report.rows.append({unit.address, unit.name, unit.version, judged(unit.address)});
        if (report.unitOfMeasure.isEmpty())
            report.unitOfMeasure = unit.unit;
    }
    emit testEnded(report);
}

// The test's judgement, failed by a profile that did not go in.
BenchTest::Judgement BusBench::judged(quint8 address) const
{
    BenchTest::Judgement judgement = m_run->judge(address);
    if (const QString failure = m_profileFailures.value(address); !failure.isEmpty()) {
        if (judgement.verdict == BenchTest::Verdict::Passed)
            judgement.verdict = BenchTest::Verdict::Failed;
        judgement.reason = QStringLiteral("профиль: %1").arg(failure)
                           + (judgement.reason.isEmpty() ? QString() : QStringLiteral("; ") + judgement.reason);
    }
    return judgement;
}
