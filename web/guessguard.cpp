#include "web/guessguard.h"

#include "core/servicecore.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

namespace relo {

namespace {

// The key of the entry that clients share when the table is full.
const QString Overflow = QStringLiteral("*");

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

GuessGuard::GuessGuard(Clock clock, QObject *parent)
    : QObject(parent), m_clock(clock ? std::move(clock) : Clock(steadyMs)),
      m_flush(new QTimer(this))
{
    m_flush->setSingleShot(true);
    m_flush->setInterval(LogEveryMs);
    connect(m_flush, &QTimer::timeout, this, [this] {
        for (const QString &line : overdueLines())
            ServiceCore::log(line);
        if (std::any_of(m_clients.cbegin(), m_clients.cend(),
                        [](const Client &c) { return c.unlogged > 0; }))
            m_flush->start();
    });
}

QString GuessGuard::clientKey(const QHostAddress &client)
{
    bool v4 = false;
    const quint32 ipv4 = client.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ipv4).toString();
    Q_IPV6ADDR bytes = client.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

int GuessGuard::delayMs(int wrongTries)
{
    if (wrongTries <= 0)
        return 0;
    return std::min(FirstDelayMs << std::min(wrongTries - 1, 10), MaxDelayMs);
}

QString GuessGuard::entryFor(const QString &key)
{
    if (m_clients.contains(key) || m_clients.size() < MaxClients)
        return key;
    // Full: clients not heard of for long make room; a delayed one never does.
    const qint64 now = m_clock();
    if (now - m_purgedAt >= 1000) {
        m_purgedAt = now;
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            const Client &c = it.value();
            const bool stale = !c.busy && c.until <= now && now - c.lastWrong >= ForgetMs;
            it = stale && it.key() != Overflow ? m_clients.erase(it) : std::next(it);
        }
    }
    return m_clients.size() < MaxClients ? key : Overflow;
}

GuessGuard::Ticket GuessGuard::admit(const QHostAddress &client)
{
    const qint64 now = m_clock();
    Ticket ticket;
    ticket.key = entryFor(clientKey(client));
    Client &entry = m_clients[ticket.key];
    if (entry.busy) {
        ticket.kind = Ticket::Busy;
        ticket.waitMs = std::max<qint64>(entry.until - now, 0);
        return ticket;
    }
    // The budget: each check takes a share of it, given back when right.
    const qint64 next = std::max(m_budgetAt, now) + BudgetRefillMs;
    if (next - now > qint64(BudgetBurst) * BudgetRefillMs) {
        ticket.kind = Ticket::Spent;
        ticket.waitMs = next - now - qint64(BudgetBurst) * BudgetRefillMs;
        if (entry.wrong == 0)
            m_clients.remove(ticket.key);
        return ticket;
    }
    m_budgetAt = next;
    entry.busy = true;
    ticket.waitMs = std::max<qint64>(entry.until - now, 0);
    return ticket;
}

QString GuessGuard::checked(const Ticket &ticket, const QHostAddress &client, bool right)
{
    const auto it = m_clients.find(ticket.key);
    if (it == m_clients.end())
        return {};
    Client &entry = it.value();
    entry.busy = false;
    if (right) {
        m_budgetAt -= BudgetRefillMs;
        // The shared entry holds other clients' tries too.
        if (ticket.key != Overflow)
            m_clients.erase(it);
        return {};
    }
    const qint64 now = m_clock();
    ++entry.wrong;
    ++entry.unlogged;
    entry.until = now + delayMs(entry.wrong);
    entry.lastWrong = now;
    entry.shown = clientKey(client);
    if (now - entry.loggedAt < LogEveryMs)
        return {};
    return logLine(entry, now);
}

QString GuessGuard::logLine(Client &entry, qint64 now)
{
    QString line =
        QStringLiteral("Yanlış parola: %1 (%2. deneme").arg(entry.shown).arg(entry.wrong);
    if (entry.unlogged > 1)
        line += QStringLiteral("; son satırdan bu yana %1").arg(entry.unlogged);
    entry.loggedAt = now;
    entry.unlogged = 0;
    return line + u')';
}

QStringList GuessGuard::overdueLines()
{
    const qint64 now = m_clock();
    QStringList lines;
    for (Client &entry : m_clients) {
        if (entry.unlogged > 0 && now - entry.loggedAt >= LogEveryMs)
            lines << logLine(entry, now);
    }
    return lines;
}

void GuessGuard::check(const QHostAddress &client, const std::function<bool()> &isRight,
                       const std::function<void(Verdict, int)> &answer)
{
    const Ticket ticket = admit(client);
    if (ticket.kind != Ticket::Check)
        return answer(Verdict::Refused, int(std::max<qint64>((ticket.waitMs + 999) / 1000, 1)));
    const auto decide = [this, ticket, client, isRight, answer] {
        const bool right = isRight();
        const QString line = checked(ticket, client, right);
        if (!line.isEmpty())
            ServiceCore::log(line);
        // Tries left out of the log are written when their minute is over,
        // even if no more come.
        else if (!right && !m_flush->isActive())
            m_flush->start();
        answer(right ? Verdict::Right : Verdict::Wrong, 0);
    };
    if (ticket.waitMs <= 0)
        decide();
    else
        // Held by the guard itself, so that the client's check always ends even
        // when its connection went away meanwhile.
        QTimer::singleShot(int(ticket.waitMs), this, decide);
}

} // namespace relo
