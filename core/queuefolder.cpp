#include "core/queuefolder.h"

#include "platform/processes.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace relo {

namespace {

const QString TurnFile = QStringLiteral("port");
const QString OrderFile = QStringLiteral("sira");
const QString UnsavedFile = QStringLiteral("kaydedilmedi");
const char *const AliveSuffix = ".canli";
const char *const ResultSuffix = ".sonuc";
constexpr int TimeDigits = 20;
constexpr int NumberDigits = 8;

} // namespace

QString TicketName::toString() const
{
    return QStringLiteral("%1-%2_%3")
        .arg(madeAt, TimeDigits, 10, QLatin1Char('0'))
        .arg(number, NumberDigits, 10, QLatin1Char('0'))
        .arg(owner);
}

std::optional<TicketName> TicketName::parse(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{%1})-(\\d{%2})_([^.]+)$").arg(TimeDigits).arg(NumberDigits));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return TicketName{match.captured(1).toLongLong(), match.captured(2).toULongLong(),
                      match.captured(3)};
}

QString QueueFolder::privateFolderFor(const QString &settingsFile)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString base;
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) &&
        platform::makeFolder(QDir(runtime).filePath(QStringLiteral("relo")), true))
        base = QDir(runtime).filePath(QStringLiteral("relo"));
    else if (platform::makeFolder(QStringLiteral("/tmp/relo-") + platform::userId(), true))
        base = QStringLiteral("/tmp/relo-") + platform::userId();
    else
        return {};
    // One queue for each ayar.ini, whatever the path it was reached by.
    const QString file = QFileInfo(settingsFile).absoluteFilePath();
    const QString canonical = QFileInfo(file).canonicalFilePath();
    const QByteArray key = QCryptographicHash::hash(
        QFile::encodeName(canonical.isEmpty() ? file : canonical), QCryptographicHash::Sha1);
    const QString folder =
        QDir(base).filePath(QStringLiteral("kuyruk-") + QString::fromLatin1(key.toHex().left(16)));
    return platform::makeFolder(folder, true) ? folder : QString();
}

QString QueueFolder::filePath(const QString &name, const char *suffix) const
{
    return QDir(m_path).filePath(name + QLatin1String(suffix));
}

bool QueueFolder::join(const QString &path)
{
    leave();
    if (!platform::makeFolder(path))
        return false;
    m_path = path;
    m_owner = QStringLiteral("%1-%2")
                  .arg(QCoreApplication::applicationPid())
                  .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    // The owner file is locked before it gets its name, so no reader ever finds
    // it unlocked while this process lives; and it is made under the order lock,
    // so no reader takes the half-made file for one left by a dead process.
    const QString temporary = filePath(QLatin1Char('~') + m_owner);
    m_turnFile.open(filePath(TurnFile));
    const bool ordered = m_orderFile.open(filePath(OrderFile)) && m_orderFile.lock();
    const bool made = ordered && m_ownerFile.open(temporary, platform::LockFile::Create::Only);
    const bool joined = made && m_turnFile.isOpen() && m_ownerFile.lock() &&
                        platform::replaceFile(temporary, filePath(m_owner, AliveSuffix));
    if (made && !joined)
        QFile::remove(temporary);
    if (ordered)
        m_orderFile.unlock();
    if (!joined)
        leave();
    return joined;
}

void QueueFolder::leave()
{
    if (m_ownerFile.isOpen())
        QFile::remove(filePath(m_owner, AliveSuffix));
    m_ownerFile.close();
    m_turnFile.close();
    m_orderFile.close();
    m_path.clear();
}

bool QueueFolder::writeWhole(const QString &path, const QByteArray &bytes)
{
    // Written under a name no reader takes for a ticket or a result, then renamed
    // into place, so that readers see the whole file or none of it.
    const QString temporary = filePath(QLatin1Char('~') + m_owner);
    if (!platform::writeNewFile(temporary, bytes))
        return false;
    if (!platform::replaceFile(temporary, path)) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

QString QueueFolder::add(const MaskChange &change, qint64 madeAt)
{
    if (!isJoined() || !m_orderFile.lock())
        return {};
    // The next number follows the highest one waiting; numbers only need to
    // order the tickets that exist together.
    qulonglong last = 0;
    const QStringList names = QDir(m_path).entryList(QDir::Files);
    for (const QString &existing : names) {
        if (const auto ticket = TicketName::parse(existing.section(u'.', 0, 0)))
            last = qMax(last, ticket->number);
    }
    QString name = TicketName{madeAt, last + 1, m_owner}.toString();
    const QByteArray text =
        QByteArray::number(change.channels) + ' ' + QByteArray::number(change.states) + '\n';
    if (!writeWhole(filePath(name), text))
        name.clear();
    m_orderFile.unlock();
    return name;
}

bool QueueFolder::ownerAlive(const QString &owner)
{
    if (owner == m_owner)
        return true;
    const QString path = filePath(owner, AliveSuffix);
    switch (platform::lockState(path)) {
    case platform::LockState::Held:
        return true;
    case platform::LockState::Unknown:
        // Another account's file that this one may not open.
        if (platform::processExists(owner.section(u'-', 0, 0).toLongLong()))
            return true;
        break;
    case platform::LockState::Free:
        break;
    }
    QFile::remove(path);
    return false;
}

// A queue file of a few bytes; nothing when it is missing or not to be read
// (a link, a stranger's file in a shared folder).
std::optional<QByteArray> QueueFolder::readSmall(const QString &path) const
{
    QByteArray bytes;
    if (platform::readFile(path, 64, &bytes) != platform::FileRead::Read)
        return std::nullopt;
    return bytes;
}

QList<Ticket> QueueFolder::waiting(QSet<qint64> *alive)
{
    QList<Ticket> tickets;
    if (!isJoined() || !m_orderFile.lock())
        return tickets;
    QHash<QString, bool> owners;
    const auto isAlive = [&](const QString &owner) {
        auto found = owners.find(owner);
        if (found == owners.end())
            found = owners.insert(owner, ownerAlive(owner));
        return found.value();
    };
    QDir folder(m_path);
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (name.endsWith(QLatin1String(AliveSuffix))) {
            const QString owner = name.chopped(int(qstrlen(AliveSuffix)));
            if (isAlive(owner) && alive) // a dead one is removed
                alive->insert(owner.section(u'-', 0, 0).toLongLong());
            continue;
        }
        if (name.startsWith(u'~')) {
            // Half-written by a process that died.
            if (!isAlive(name.mid(1).section(u'.', 0, 0)))
                folder.remove(name);
            continue;
        }
        const std::optional<TicketName> ticket = TicketName::parse(name.section(u'.', 0, 0));
        if (!ticket)
            continue;
        if (!isAlive(ticket->owner)) {
            folder.remove(name);
            continue;
        }
        if (name.contains(u'.') || QFile::exists(filePath(name, ResultSuffix)))
            continue; // a result, or a ticket already sent
        const QList<QByteArray> fields =
            readSmall(filePath(name)).value_or(QByteArray()).left(64).simplified().split(' ');
        bool channelsOk = false;
        bool statesOk = false;
        const uint channels = fields.value(0).toUInt(&channelsOk);
        const uint states = fields.value(1).toUInt(&statesOk);
        if (fields.size() == 2 && channelsOk && statesOk && channels <= 255 && states <= 255)
            tickets << Ticket{name, {Mask(channels), Mask(states)}};
    }
    m_orderFile.unlock();
    return tickets;
}

void QueueFolder::remove(const QString &ticket)
{
    if (!isJoined())
        return;
    QFile::remove(filePath(ticket));
    QFile::remove(filePath(ticket, ResultSuffix));
}

void QueueFolder::writeResult(const QString &ticket, const QByteArray &result)
{
    if (isJoined())
        writeWhole(filePath(ticket, ResultSuffix), result);
}

std::optional<QByteArray> QueueFolder::takeResult(const QString &ticket)
{
    if (!isJoined())
        return std::nullopt;
    // An outcome is a status and one line of error.
    QByteArray text;
    const QString result = filePath(ticket, ResultSuffix);
    if (platform::readFile(result, 64 * 1024, &text) != platform::FileRead::Read)
        return std::nullopt;
    // The ticket goes before its result: a ticket seen without a result would be
    // taken as still waiting and sent again.
    QFile::remove(filePath(ticket));
    QFile::remove(result);
    return text;
}

bool QueueFolder::takeTurn()
{
    return !isJoined() || m_turnFile.lock(false);
}

void QueueFolder::endTurn()
{
    if (isJoined())
        m_turnFile.unlock();
}

void QueueFolder::touchTurn()
{
    m_turnFile.touch();
}

qint64 QueueFolder::turnTouchedNs() const
{
    return m_turnFile.modifiedNs();
}

void QueueFolder::keepUnsaved(Mask mask, const QByteArray &stamp)
{
    if (isJoined())
        writeWhole(filePath(UnsavedFile), QByteArray::number(mask) + ' ' + stamp);
}

void QueueFolder::forgetUnsaved()
{
    if (isJoined())
        QFile::remove(filePath(UnsavedFile));
}

std::optional<Mask> QueueFolder::unsaved(const QByteArray &stamp) const
{
    const std::optional<QByteArray> text =
        isJoined() ? readSmall(filePath(UnsavedFile)) : std::nullopt;
    if (!text)
        return std::nullopt;
    const QList<QByteArray> fields = text->left(64).trimmed().split(' ');
    bool ok = false;
    const uint mask = fields.value(0).toUInt(&ok);
    if (fields.size() != 2 || fields.at(1) != stamp || !ok || mask > 255)
        return std::nullopt;
    return Mask(mask);
}

} // namespace relo
