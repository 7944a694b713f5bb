#include "profilewriter.h"

#include "moderules.h"
#include "resultcodes.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

using Catalogue::Parameter;
using Profiles::DeviceProfile;

// Written before the other settings, in this order; see the class comment.
constexpr std::array kWrittenFirst{prmModeDecimalPointPos, prmModeBottomRange, prmModeTopRange, prmModeRangeSet};

// Where a parameter goes among the writes: the first ones, then the rest by catalogue order,
// then the line settings.
std::pair<int, int> rank(const Parameter &parameter)
{
    const auto first = std::find(kWrittenFirst.begin(), kWrittenFirst.end(), parameter.id);
    if (first != kWrittenFirst.end())
        return {0, int(first - kWrittenFirst.begin())};
    return {parameter.role == Catalogue::Role::LineSetting ? 2 : 1, int(parameter.id)};
}

double numberOf(const DeviceProfile &profile, TParamId id)
{
    return profile.values.value(Catalogue::of(id).key).toDouble();
}

// A path in folder for the file name that no earlier backup has taken.
QString freePath(const QDir &folder, const QString &fileName)
{
    const QFileInfo name(fileName);
    QString path = folder.filePath(fileName);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("%1_%2.%3").arg(name.completeBaseName()).arg(n).arg(name.suffix()));
    return path;
}

} // namespace

QList<ProfileWriter::Refusal> ProfileWriter::refusals(const DeviceProfile &target, bool waiveDisplayRules)
{
    QList<Refusal> refused;
    for (const QString &key : Profiles::missingKeys(target))
        refused.append({key, QStringLiteral("нет значения")});
    QMap<QString, QVariant> judged; // the values that pass on their own, for the rules between them
    for (const Parameter *parameter : Profiles::keptParameters()) {
        const QVariant value = target.values.value(parameter->key);
        if (!value.isValid())
            continue;
        if (const QString why = Catalogue::refusal(*parameter, value); !why.isEmpty())
            refused.append({parameter->key, why});
        else
            judged.insert(parameter->key, value);
    }
    for (const ModeRules::Breach &breach : ModeRules::breaches(judged)) {
        if (!waiveDisplayRules || breach.kind != ModeRules::Kind::Display)
            refused.append({breach.key, breach.reason});
    }
    return refused;
}

bool ProfileWriter::isBackup(const QString &path, const Options &options)
{
    const QString folder = QFileInfo(options.backupFolder).canonicalFilePath();
    return !folder.isEmpty() && QFileInfo(QFileInfo(path).canonicalPath()) == QFileInfo(folder);
}

QList<const Parameter *> ProfileWriter::writeOrder(const DeviceProfile &target, const DeviceProfile &current,
                                                   const Options &options)
{
    QList<const Parameter *> order;
    for (const Parameter *parameter : Profiles::keptParameters()) {
        if (parameter->role == Catalogue::Role::LineSetting && !options.withLineSettings)
            continue;
        const QVariant now = current.values.value(parameter->key);
        if (options.onlyDiffering && Catalogue::sameValue(*parameter, now, target.values.value(parameter->key)))
            continue;
        order.append(parameter);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Parameter *a, const Parameter *b) { return rank(*a) < rank(*b); });

    // Bottom before top keeps bottom <= top at every step, unless the new bottom is above the top
    // the device holds now; then the top goes first, and the new top is at least the new bottom.
    const QList<const Parameter *> planned = order;
    for (const Parameter *bottom : planned) {
        if (!bottom->rangeTop)
            continue;
        const qsizetype bottomAt = order.indexOf(bottom);
        const qsizetype topAt = order.indexOf(&Catalogue::of(*bottom->rangeTop));
        const bool topFirst = target.values.value(bottom->key).toDouble() > numberOf(current, *bottom->rangeTop);
        if (topAt >= 0 && topFirst && topAt > bottomAt)
            order.move(topAt, bottomAt);
        else if (topAt >= 0 && !topFirst && topAt < bottomAt)
            order.move(bottomAt, topAt);
    }
    return order;
}

ProfileWriter::ProfileWriter(Session &session, const DeviceProfile &target, const DeviceProfile &current,
                             const Options &options, QObject *parent)
    : QObject(parent),
      m_session(session), m_target(target), m_current(current), m_options(options),
      m_refused(refusals(target, options.waiveDisplayRules)),
      m_identityDifferences(Profiles::identityDifferences(current.identity, target.identity))
{
    // Without the device's own values there is no backup to undo the write with.
    for (const QString &key : Profiles::missingKeys(current))
        m_refused.append({key, QStringLiteral("не прочитано из прибора")});
    if (m_refused.isEmpty())
        m_plan = writeOrder(target, current, options);
}

ProfileWriter::ProfileWriter(Session &session, const DeviceProfile &target, const DeviceProfile &current)
    : ProfileWriter(session, target, current, Options())
{
}

bool ProfileWriter::ready() const
{
    return m_refused.isEmpty() && (m_identityDifferences.isEmpty() || m_identityConfirmed);
}

QList<const Parameter *> ProfileWriter::leftOut() const
{
    QList<const Parameter *> left;
    if (m_options.withLineSettings)
        return left;
    for (const Parameter *parameter : Profiles::keptParameters()) {
        const QString &key = parameter->key;
        if (parameter->role == Catalogue::Role::LineSetting
            && !Catalogue::sameValue(*parameter, m_current.values.value(key), m_target.values.value(key)))
            left.append(parameter);
    }
    return left;
}

bool ProfileWriter::finished() const
{
    return !ready() || !m_backupError.isEmpty() || done() >= total();
}

bool ProfileWriter::allConfirmed() const
{
    return finished() && ready() && m_backupError.isEmpty()
           && std::all_of(m_results.begin(), m_results.end(),
                          [](const Result &result) { return result.outcome == Outcome::Confirmed; });
}

QString ProfileWriter::summary() const
{
    if (!m_backupError.isEmpty())
        return QStringLiteral("не записано: прежние настройки не сохранены");
    for (const Result &one : m_results) {
        if (one.outcome != Outcome::Confirmed)
            return QStringLiteral("%1: %2").arg(one.parameter->caption, one.text);
    }
    return total() == 0 ? QStringLiteral("уже как в профиле") : QStringLiteral("записано и подтверждено: %1").arg(total());
}

bool ProfileWriter::backUp()
{
    const QDir folder(m_options.backupFolder);
    if (!folder.mkpath(QStringLiteral("."))) {
        m_backupError = QStringLiteral("не создать папку %1").arg(QDir::toNativeSeparators(folder.path()));
        return false;
    }
    const QString path = freePath(folder, Profiles::suggestedFileName(m_current));
    QString error;
    if (!Profiles::save(m_current, path, &error)) {
        m_backupError = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error);
        return false;
    }
    m_backupPath = path;
    return true;
}

void ProfileWriter::start()
{
    const bool writing = !finished() && (!m_backupPath.isEmpty() || backUp()); // one backup, before the first write
    QMetaObject::invokeMethod(
        this,
        [this, writing] {
            if (m_cancelled)
                return;
            if (writing)
                writeNext();
            else
                emit ended();
        },
        Qt::QueuedConnection);
}

void ProfileWriter::cancel()
{
    m_cancelled = true;
    m_session.cancel(this);
}

quint8 ProfileWriter::address() const
{
    return quint8(m_current.origin.address & 0xFF);
}

void ProfileWriter::writeNext()
{
    if (done() >= total()) {
        emit ended();
        return;
    }
    const Parameter &parameter = *m_plan[done()];
    Result result{&parameter, m_current.values.value(parameter.key), m_target.values.value(parameter.key),
                  Outcome::Confirmed, lrOk, {}, {}};
    if (m_lineFailed) {
        result.outcome = Outcome::NotSent;
        result.text = QStringLiteral("не записано: линия не отвечает");
        record(result);
        return;
    }
    const bool asked = m_session.writeValueAt(address(), parameter, result.value, this,
                                              [this, result](qint16 code) { written(result, code); });
    if (!asked)
        written(result, lrNotConnected);
}

void ProfileWriter::written(Result result, qint16 code)
{
    if (code < lrOk) {
        m_lineFailed = LineFailed(code);
        result.outcome = Outcome::Refused;
        result.code = code;
        result.text = QStringLiteral("не записано: %1").arg(ResultText(code));
        record(result);
        return;
    }
    const bool asked = m_session.readValueAt(address(), *result.parameter, this,
                                             [this, result](const Session::Reading &reading) { readBack(result, reading); });
    if (!asked)
        readBack(result, {lrNotConnected, {}});
}

void ProfileWriter::readBack(Result result, const Session::Reading &reading)
{
    if (reading.code < lrOk) {
        m_lineFailed = LineFailed(reading.code);
        result.outcome = Outcome::NotVerified;
        result.code = reading.code;
        result.text = QStringLiteral("записано, но не прочитано: %1").arg(ResultText(reading.code));
        record(result);
        return;
    }
    result.readBack = reading.value;
    if (!Catalogue::sameValue(*result.parameter, result.readBack, result.value)) {
        result.outcome = Outcome::ReadBackDiffers;
        result.text = QStringLiteral("записано, но прочитано другое: %1")
                          .arg(Catalogue::valueText(*result.parameter, result.readBack));
    } else {
        result.text = QStringLiteral("записано и подтверждено");
    }
    record(result);
}

void ProfileWriter::record(const Result &result)
{
    m_results.append(result);
    emit stepDone(result);
    if (!m_cancelled)
        writeNext();
}
