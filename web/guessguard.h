#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;

namespace relo {

// Slows down password guessing. Every password given (a Bearer header, the
// login's body, a WebSocket's Authorization) is checked through here, keyed by
// client: an IPv4 address, or the /64 of an IPv6 address, where one home or
// one machine has many.
//
// - After a wrong password a client is delayed, twice as long after each
//   further one; while it is, its next password is held and only checked when
//   the delay is over, so a right password is answered no sooner than a wrong
//   one would be.
// - A client has at most one password check under way: another one is refused
//   at once (Busy, answered 429 unchecked).
// - Wrong passwords from all clients together draw on one budget that refills
//   slowly; while it is spent, every check is refused (Spent). A right password
//   gives its share back.
// - The table of clients is bounded; a delayed client is never dropped from it
//   to make room: new clients then share one overflow entry instead.
// - A wrong password is logged once per client and minute; the tries in
//   between are summed into the next line, written when the minute is over.
class GuessGuard : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstDelayMs = 250;
    static constexpr int MaxDelayMs = 16000;
    static constexpr int MaxClients = 4096;
    static constexpr int BudgetBurst = 30;      // wrong passwords at once ...
    static constexpr int BudgetRefillMs = 1000; // ... then one per this long
    static constexpr int LogEveryMs = 60000;
    // A client with no wrong password for a day is forgotten when room is needed.
    static constexpr qint64 ForgetMs = qint64(24) * 3600 * 1000;

    // Milliseconds of a monotonic clock; a steady clock by default.
    using Clock = std::function<qint64()>;
    explicit GuessGuard(Clock clock = {}, QObject *parent = nullptr);

    struct Ticket
    {
        enum Kind { Check, Busy, Spent };
        Kind kind = Check;
        qint64 waitMs = 0; // Check: hold the password this long; else: try again after
        QString key;       // the client's entry
    };
    // A password from `client` is to be checked: when, or why not.
    Ticket admit(const QHostAddress &client);
    // The password admitted with `ticket` was checked; returns the line to log,
    // if any.
    QString checked(const Ticket &ticket, const QHostAddress &client, bool right);
    // The lines of clients whose wrong passwords were left out of the log for
    // a minute now.
    QStringList overdueLines();

    enum class Verdict { Right, Wrong, Refused };
    // admit(), then `isRight()` when the ticket says, then checked() (logging its
    // line) and `answer` with the verdict and, when refused, the seconds after
    // which to try again. `answer` may run at once.
    void check(const QHostAddress &client, const std::function<bool()> &isRight,
               const std::function<void(Verdict, int retryAfterS)> &answer);

    // "192.0.2.7", "2001:db8:1:2::/64"; an IPv4-mapped IPv6 address as IPv4.
    static QString clientKey(const QHostAddress &client);
    // How long a client waits after its `wrongTries`-th wrong password.
    static int delayMs(int wrongTries);

private:
    struct Client
    {
        int wrong = 0;    // wrong passwords in a row
        qint64 until = 0; // delayed until then
        qint64 lastWrong = 0;
        qint64 loggedAt = -LogEveryMs; // the last line about it
        int unlogged = 0;              // wrong passwords since that line
        bool busy = false;             // a check under way
        QString shown;                 // in the log
    };
    QString entryFor(const QString &key);
    QString logLine(Client &entry, qint64 now);

    const Clock m_clock;
    QHash<QString, Client> m_clients;
    qint64 m_budgetAt = 0; // when the budget is full again (plus BudgetBurst refills)
    qint64 m_purgedAt = -1000;
    QTimer *const m_flush; // writes the overdue lines
};

} // namespace relo
