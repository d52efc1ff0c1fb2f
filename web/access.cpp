#include "web/access.h"

#include <QCryptographicHash>
#include <QNetworkInterface>
#include <QRandomGenerator>

#include <algorithm>

namespace relo {

namespace {

constexpr int MaxSessions = 1024;

// Equal without telling by its time how much of a guess was right.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    const QByteArray x = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray y = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    char difference = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        difference = char(difference | (x.at(i) ^ y.at(i)));
    return difference == 0;
}

QByteArray cookieValue(const QByteArray &cookies, const QByteArray &name)
{
    for (const QByteArray &cookie : cookies.split(';')) {
        const QByteArray trimmed = cookie.trimmed();
        if (trimmed.startsWith(name + '='))
            return trimmed.mid(name.size() + 1);
    }
    return {};
}

} // namespace

bool Access::hostAllowed(const QByteArray &header) const
{
    QByteArray host = header.trimmed().toLower();
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        if (end < 0 || (end + 1 < host.size() && host.at(end + 1) != ':'))
            return false;
        host = host.mid(1, end - 1);
    } else if (host.count(':') == 1) {
        host = host.left(host.indexOf(':'));
    }
    if (host.isEmpty())
        return false;
    const QString name = QString::fromLatin1(host);
    if (name == QLatin1String("localhost") || m_options.allowedHosts.contains(name))
        return true;
    QHostAddress address;
    if (!address.setAddress(name))
        return false;
    const QHostAddress &listening = m_options.address;
    if (listening == QHostAddress::Any || listening == QHostAddress::AnyIPv4 ||
        listening == QHostAddress::AnyIPv6) {
        const QList<QHostAddress> own = QNetworkInterface::allAddresses();
        return std::any_of(own.begin(), own.end(), [&](const QHostAddress &mine) {
            return mine.isEqual(address, QHostAddress::TolerantConversion);
        });
    }
    return address.isEqual(listening, QHostAddress::TolerantConversion);
}

bool Access::sameOrigin(const QByteArray &origin, const QByteArray &host,
                        const QByteArray &fetchSite) const
{
    if (fetchSite == "cross-site" || fetchSite == "same-site")
        return false;
    if (origin.isEmpty())
        return true; // not a browser: a script or a tool
    const QByteArray scheme = m_options.certFile.isEmpty() ? "http://" : "https://";
    return origin.trimmed().toLower() == scheme + host.trimmed().toLower();
}

Access::Auth Access::authorize(const QByteArray &authorization, const QByteArray &cookie,
                               QByteArray *password)
{
    if (!m_options.password)
        return Auth::Granted;
    if (authorization.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0) { // any case
        *password = authorization.mid(7);
        return Auth::Password;
    }
    const QByteArray session = cookieValue(cookie, SessionCookie);
    const auto it = m_sessions.constFind(session);
    if (!session.isEmpty() && it != m_sessions.constEnd()) {
        if (!it->hasExpired())
            return Auth::Granted;
        m_sessions.remove(session);
    }
    return Auth::Missing;
}

bool Access::isPassword(const QByteArray &given) const
{
    if (!m_options.password)
        return false;
    const QByteArray password = m_options.password->toUtf8();
    // A password of blanks only stays what it is (the login can give it).
    if (password.trimmed().isEmpty())
        return sameSecret(given, password);
    return sameSecret(given.trimmed(), password.trimmed());
}

void Access::checkPassword(const QHostAddress &client, const QByteArray &given,
                           const std::function<void(GuessGuard::Verdict, int)> &answer)
{
    m_guesses.check(
        client, [this, given] { return isPassword(given); }, answer);
}

QByteArray Access::openSession()
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = it->hasExpired() ? m_sessions.erase(it) : std::next(it);
    if (m_sessions.size() >= MaxSessions)
        m_sessions.erase(m_sessions.begin());
    QByteArray random(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()),
                                          random.size() / 4);
    const QByteArray token = random.toHex();
    m_sessions.insert(token, QDeadlineTimer(qint64(SessionHours) * 3600 * 1000));
    QByteArray cookie =
        QByteArray(SessionCookie) + '=' + token +
        "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + QByteArray::number(SessionHours * 3600);
    if (!m_options.certFile.isEmpty())
        cookie += "; Secure";
    return cookie;
}

} // namespace relo
