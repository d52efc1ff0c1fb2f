#pragma once

#include "web/weboptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QString>

namespace relo {

// Who may use relo-web, from what the request carries: the Host header (a page
// of another site whose name was pointed here, DNS rebinding, names no address
// of this server), the origin of a change, and the password, given as
// "Authorization: Bearer <password>" or as the cookie of a session opened with
// it. Wrong passwords are answered later the more an address tried.
class Access
{
public:
    enum class Auth { Granted, Missing, Wrong };
    static constexpr int SessionHours = 12;
    static constexpr const char *SessionCookie = "relo_session";

    explicit Access(const WebOptions &options) : m_options(options) {}

    bool passwordNeeded() const { return m_options.password.has_value(); }
    // Whether `host` (the Host header) names this server: an address it listens
    // on (for 0.0.0.0 or ::, any address of this machine), localhost, or a name
    // given with --allow-host.
    bool hostAllowed(const QByteArray &host) const;
    // Whether a change may come from a request with these headers: no
    // Sec-Fetch-Site of another site, and an Origin that is this server or none
    // (a script, a tool).
    bool sameOrigin(const QByteArray &origin, const QByteArray &host,
                    const QByteArray &fetchSite) const;
    // The password, or a session, in the Authorization and Cookie headers.
    Auth authorize(const QByteArray &authorization, const QByteArray &cookie);
    bool isPassword(const QByteArray &given) const;
    // Opens a session; returns the Set-Cookie value that carries it.
    QByteArray openSession();

    // One more wrong password from `address`; returns how many so far.
    int wrongTry(const QString &address);
    // How long the answer to the `tries`-th wrong password waits.
    static int refusalDelayMs(int tries);
    // A right password from `address`: its count starts again.
    void rightTry(const QString &address) { m_wrongTries.remove(address); }

private:
    const WebOptions m_options;
    QHash<QByteArray, QDeadlineTimer> m_sessions; // cookie -> expiry
    QHash<QString, int> m_wrongTries;             // address -> wrong passwords
};

} // namespace relo
