#pragma once

#include "web/guessguard.h"
#include "web/weboptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QString>

#include <functional>

namespace relo {

// Who may use relo-web, from what the request carries: the Host header (a page
// of another site whose name was pointed here, DNS rebinding, names no address
// of this server), the origin of a change, and the password, given as
// "Authorization: Bearer <password>" or as the cookie of a session opened with
// it. Every password given is checked through guesses(), which slows guessing.
class Access
{
public:
    // Password: one was given, to be checked with checkPassword().
    enum class Auth { Granted, Missing, Password };
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
    // A session in the Cookie header, or the password in the Authorization
    // header (then `*password` is what was given).
    Auth authorize(const QByteArray &authorization, const QByteArray &cookie, QByteArray *password);
    // Blanks around the password are not part of it, in what is given as in
    // what is set: an HTTP header cannot carry them.
    bool isPassword(const QByteArray &given) const;
    // Checks `given`, from `client`, when guesses() lets it; `answer` may run at once.
    void checkPassword(const QHostAddress &client, const QByteArray &given,
                       const std::function<void(GuessGuard::Verdict, int retryAfterS)> &answer);
    // Opens a session; returns the Set-Cookie value that carries it.
    QByteArray openSession();
    GuessGuard &guesses() { return m_guesses; }

private:
    const WebOptions m_options;
    QHash<QByteArray, QDeadlineTimer> m_sessions; // cookie -> expiry
    GuessGuard m_guesses;
};

} // namespace relo
