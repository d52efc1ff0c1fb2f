// The built relo-web on a loopback port, with a pseudo-terminal standing in for
// the radio module and RELOKomut beside it.

#include "core/settingsfile.h"
#include "support/programs.h"
#include "support/servicebench.h"
#include "web/access.h"
#include "web/guessguard.h"
#include "web/liveclients.h"
#include "web/weboptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

namespace {

constexpr int Wait = 20000;

struct Reply
{
    int status = 0;
    QByteArray headers; // lower case
    QByteArray body;
};

QJsonObject json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// A relo-web of the test's own, on a free loopback port.
struct Server
{
    std::unique_ptr<ServiceProcess> service;
    quint16 port = 0;
};

} // namespace

class TestWebServer : public QObject
{
    Q_OBJECT

    ServiceBench m_bench;
    Server m_web;
    QWebSocket m_live;
    QList<QJsonObject> m_states; // as told on /api/live
    QList<int> frames(int mask) { return m_bench.frames(mask); }

    void start(Server &server, ServiceBench &bench, const QProcessEnvironment &env)
    {
        server.service = bench.start({QStringLiteral("--listen=127.0.0.1:0")}, env);
        static const QRegularExpression started(
            QStringLiteral("başladı: http://127.0.0.1:(\\d+)/"));
        QRegularExpressionMatch match;
        QTRY_VERIFY2_WITH_TIMEOUT((match = started.match(server.service->readLog())).hasMatch(),
                                  qPrintable(server.service->log), Wait);
        server.port = quint16(match.captured(1).toUInt());
    }

    // One request on a connection of its own; `headers` as "Name: value".
    QTcpSocket *send(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
                     const QList<QByteArray> &headers = {}, quint16 port = 0)
    {
        port = port ? port : m_web.port;
        auto *socket = new QTcpSocket(this);
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        QByteArray text = method + ' ' + path + " HTTP/1.1\r\n";
        if (!std::any_of(headers.begin(), headers.end(),
                         [](const QByteArray &h) { return h.toLower().startsWith("host:"); }))
            text += "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
        for (const QByteArray &header : headers)
            text += header + "\r\n";
        text += "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
                "\r\n\r\n" + body;
        socket->write(text);
        return socket;
    }

    // The answer, read until the server closes the connection as each request asks.
    Reply receive(QTcpSocket *socket)
    {
        QByteArray data;
        const bool closed = QTest::qWaitFor(
            [&] {
                data += socket->readAll();
                return socket->state() == QAbstractSocket::UnconnectedState;
            },
            Wait);
        socket->deleteLater();
        const qsizetype end = data.indexOf("\r\n\r\n");
        return closed ? Reply{data.mid(9, 3).toInt(), data.left(end).toLower(), data.mid(end + 4)}
                      : Reply{};
    }

    Reply request(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
                  const QList<QByteArray> &headers = {}, quint16 port = 0)
    {
        return receive(send(method, path, body, headers, port));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_bench.open(QStringLiteral("relo-web")));
        QVERIFY(m_bench.writeSettings(
            "[RELO]\nPortNumber=3\nPortData=5\n[WEB]\nAllowHost=b, Relo.lan\n"));
        start(m_web, m_bench, m_bench.env);
        connect(&m_live, &QWebSocket::textMessageReceived, this,
                [this](const QString &text) { m_states << json(text.toUtf8()); });
        m_live.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(m_web.port)));
        QTRY_COMPARE_WITH_TIMEOUT(m_states.size(), 1, Wait);
        QCOMPARE(m_states.last().value("mask").toInt(), 5);
    }

    void cleanupTestCase()
    {
        if (!m_web.service)
            return;
        QVERIFY(m_web.service->stop());
        QCOMPARE(m_web.service->process->exitCode(), 0);
        QVERIFY(m_web.service->readLog().endsWith(QStringLiteral("Durduruldu\n")));
        // Every page is told it went away.
        QTRY_COMPARE(m_live.state(), QAbstractSocket::UnconnectedState);
    }

    void api_data()
    {
        QTest::addColumn<QByteArray>("line"); // method and path
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<QByteArray>>("headers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("answer"); // part of the body
        const auto row = [](const char *name, const char *request, const QByteArray &body,
                            const QList<QByteArray> &headers, int status, const char *answer) {
            QTest::newRow(name) << QByteArray(request) << body << headers << status
                                << QString::fromUtf8(answer);
        };
        row("state", "GET /api/state", {}, {}, 200,
            "{\"channels\":[true,false,true,false,false,false,false,false],\"mask\":5}");
        row("page", "GET /", {}, {}, 200, "Çıkış 8");
        row("channel 9", "PUT /api/channels/9", "ON", {}, 400,
            "Geçersiz çıkış: \\\"9\\\" (1-8 olmalı)");
        row("hostile body", "PUT /api/channels/3", "\x1b[2J<b>\"", {}, 400, "\\\\x1b[2J<b>\\\\x22");
        row("mask 256", "PUT /api/mask", "256", {}, 400, "Geçersiz maske");
        row("GET a channel", "GET /api/channels/3", {}, {}, 405, "PUT");
        row("unknown file", "GET /ayar.ini", {}, {}, 404, "Bulunamadı");
        row("live, no upgrade", "GET /api/live", {}, {}, 426, "WebSocket");
        row("other host", "GET /api/state", {}, {"Host: attacker.example:8080"}, 421, "bu adla");
        row("no host", "GET /api/state", {}, {"Host: "}, 421, "bu adla");
        row("allowed name", "GET /api/state", {}, {"Host: RELO.lan"}, 200, "\"mask\":5");
        row("other origin", "PUT /api/channels/1", "ON", {"Origin: http://attacker.example"}, 403,
            "Başka bir siteden");
        row("cross-site", "PUT /api/mask", "0", {"Sec-Fetch-Site: cross-site"}, 403,
            "Başka bir siteden");
    }

    // Nothing here changes the outputs: the wire stays silent.
    void api()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, body);
        QFETCH(QList<QByteArray>, headers);
        QFETCH(int, status);
        QFETCH(QString, answer);

        const Reply reply = request(line.split(' ').at(0), line.split(' ').at(1), body, headers);
        QCOMPARE(reply.status, status);
        QVERIFY2(QString::fromUtf8(reply.body).contains(answer), reply.body.left(300).constData());
        QVERIFY(!m_web.service->readLog().contains(QChar(0x1b)));
        QCOMPARE(m_bench.wire.read(0), QByteArray());
    }

    // Each answer when its batch is done; every state on /api/live.
    void changes()
    {
        m_states.clear();
        // On and off back to back: each state reaches the wire, four frames apiece.
        QTcpSocket *on = send("PUT", "/api/channels/2", "ON");
        QTcpSocket *off = send("PUT", "/api/channels/2", "0");
        const Reply onReply = receive(on);
        const Reply offReply = receive(off);
        QCOMPARE(frames(5), (QList<int>{7, 7, 7, 7, 5, 5, 5, 5}));
        QCOMPARE(json(onReply.body).value("mask").toInt(), 7);
        QCOMPARE(json(offReply.body).value("mask").toInt(), 5);
        QVERIFY(!json(offReply.body).contains("saved"));
        QTRY_COMPARE(m_states.size(), 2);
        QCOMPARE(m_states.at(0).value("mask").toInt(), 7);
        QCOMPARE(m_states.at(1).value("channels").toArray().at(1).toBool(), false);
        QCOMPARE(json(request("PUT", "/api/channels/4", "1").body).value("mask").toInt(), 13);
        QCOMPARE(frames(13).size(), 4);

        // A change made by RELOKomut is told once it is saved, while its frames
        // still go out, not after them.
        QProcess komut;
        komut.setProcessEnvironment(m_bench.env);
        endWithTest(komut);
        komut.start(m_bench.path(QStringLiteral("RELOKomut")), {"05-1"});
        QTRY_COMPARE_WITH_TIMEOUT(m_states.size(), 4, Wait);
        QCOMPARE(komut.state(), QProcess::Running);
        QCOMPARE(m_states.last().value("mask").toInt(), 29);
        QVERIFY(komut.waitForFinished(Wait));
        QCOMPARE(frames(29).size(), 4);

        QCOMPARE(request("PUT", "/api/mask", "0").status, 200);
        QCOMPARE(frames(0).size(), 4);
        QCOMPARE(relo::readSetting(m_bench.folder(), relo::PortDataKey), QStringLiteral("0"));
    }

    // An ayar.ini that cannot be written (too large to be rewritten, which stops
    // root as well), on a bench of its own: a change that went out is answered
    // "saved": false, and one that then fails leaves the state as sent.
    void notSaved()
    {
        ServiceBench bench;
        QVERIFY(bench.open(QStringLiteral("relo-web")));
        QVERIFY(bench.writeSettings(savedSettings(3, 0)));
        Server web;
        start(web, bench, bench.env);
        QFile ini(relo::settingsPath(bench.folder()));
        QVERIFY(ini.open(QIODevice::Append) && ini.write(QByteArray(2 << 20, '\n')) > 0);
        ini.close();
        const Reply sent = request("PUT", "/api/channels/3", "ON", {}, web.port);
        QCOMPARE(json(sent.body).value("mask").toInt(), 4);
        QCOMPARE(json(sent.body).value("saved"), QJsonValue(false));
        QCOMPARE(bench.frames(4).size(), 4);
        // Held by another program (this one), the port is busy.
        QFile holder(bench.wire.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        const Reply failed = request("PUT", "/api/channels/5", "ON", {}, web.port);
        QCOMPARE(failed.status, 503);
        QVERIFY2(failed.body.contains("başka bir program tarafından kullanılıyor"),
                 failed.body.constData());
        QCOMPARE(json(request("GET", "/api/state", {}, {}, web.port).body).value("mask").toInt(),
                 4);
        QVERIFY(web.service->stop());
    }

    void password()
    {
        QProcessEnvironment env = m_bench.env;
        env.insert(QStringLiteral("RELO_WEB_PASSWORD"), QStringLiteral("gizli söz"));
        Server web;
        start(web, m_bench, env);
        const auto guarded = [&](const QList<QByteArray> &headers) {
            return request("GET", "/api/state", {}, headers, web.port);
        };
        QCOMPARE(guarded({}).body, QByteArray("{\"error\":\"Parola gerekli\"}"));
        QCOMPARE(guarded({"Authorization: Bearer gizli söz"}).status, 200);
        QCOMPARE(guarded({"Cookie: relo_session=0123"}).status, 401);
        const Reply login = request("POST", "/api/login", "gizli söz", {}, web.port);
        QCOMPARE(login.status, 204);
        static const QRegularExpression cookie(
            QStringLiteral("set-cookie: (relo_session=[0-9a-f]{64}); path=/; httponly; "
                           "samesite=strict; max-age=\\d+"));
        const QRegularExpressionMatch match = cookie.match(QString::fromLatin1(login.headers));
        QVERIFY2(match.hasMatch(), login.headers.constData());
        const QByteArray session = "Cookie: " + match.captured(1).toLatin1();
        QCOMPARE(guarded({session}).status, 200);
        // The page's live state takes the same cookie, and nothing without it or
        // from a page of another site.
        QWebSocket with, without, wrongly;
        QWebSocket elsewhere(QStringLiteral("http://attacker.example"));
        QNetworkRequest live(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(web.port)));
        without.open(live);
        live.setRawHeader("Authorization", "Bearer gizli");
        wrongly.open(live);
        live.setRawHeader("Authorization", {});
        live.setRawHeader("Cookie", match.captured(1).toLatin1());
        elsewhere.open(live);
        QSignalSpy told(&with, &QWebSocket::textMessageReceived);
        with.open(live);
        QVERIFY(told.wait(Wait));
        for (QWebSocket *refused : {&without, &wrongly, &elsewhere})
            QTRY_COMPARE(refused->closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QVERIFY(web.service->stop());
    }

    // The cookie is Secure over HTTPS only: a browser would not send it back over HTTP.
    void secureCookie()
    {
        relo::WebOptions http, https;
        https.certFile = https.keyFile = QStringLiteral("x");
        QVERIFY(!relo::Access(http).openSession().contains("Secure"));
        QVERIFY(relo::Access(https).openSession().endsWith("; Secure"));
    }

    // Live clients in-process, pinged every 500 ms rather than every 30 s: a page
    // that answers each ping stays through round after round, a peer that never
    // answers is dropped at the round after its ping.
    void pings()
    {
        QWebSocketServer server(QString(), QWebSocketServer::NonSecureMode);
        QVERIFY(server.listen(QHostAddress::LocalHost));
        relo::Access access{relo::WebOptions()};
        relo::LiveClients live(&server, &access);
        auto *ping = live.findChild<QTimer *>();
        ping->start(500);
        QWebSocket answering;
        answering.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(server.serverPort())));
        QTcpSocket silent; // reads nothing after its handshake
        silent.connectToHost(QHostAddress::LocalHost, server.serverPort());
        silent.write("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                     "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
        QTRY_COMPARE(live.count(), 2);
        QSignalSpy rounds(ping, &QTimer::timeout);
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= 4, Wait);
        QCOMPARE(answering.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(live.count(), 1);
    }

    // The guard against guessing, on a clock of the test's own. Steps, split by
    // ", ": "admit ADDRESS" (answers "check|busy|spent WAIT_MS"), "wrong ADDRESS"
    // or "right ADDRESS" (the password of its last admit, checked: answers the log
    // line or "-"), "+MS" (time passes), "fill N" (N more clients each with one
    // wrong password, a second apart), "spray N" (N more clients try at once:
    // answers "checked K"), "flush" (the overdue log lines, or "-"). A stands for
    // 192.0.2.1; answers are split by " | ".
    void guesses_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("answers");
        const QString first = QStringLiteral("check 0 | Yanlış parola: 192.0.2.1 (1. deneme)");
        QTest::newRow("held longer after each wrong one, until a right one")
            << "admit A, wrong A, admit A, +100, wrong A, admit A, +500, right A, admit A"
            << first + " | check 250 | - | check 500 | - | check 0";
        QTest::newRow("one check under way per client")
            << "admit A, wrong A, admit A, +100, admit A, admit 192.0.2.2"
            << first + " | check 250 | busy 150 | check 0";
        QTest::newRow("an IPv6 /64 is one client, IPv4 in IPv6 is IPv4")
            << "admit 2001:db8:1:2::1, wrong 2001:db8:1:2::1, admit 2001:db8:1:2:ffff::9, "
               "admit 2001:db8:1:3::1, admit ::ffff:192.0.2.1, wrong ::ffff:192.0.2.1, admit A"
            << "check 0 | Yanlış parola: 2001:db8:1:2::/64 (1. deneme) | check 250 | check 0 | " +
                   first + " | check 250";
        QTest::newRow("a full table keeps a delayed client; newcomers share")
            << "admit A, wrong A, admit A, wrong A, fill 4095, admit 198.51.100.1, "
               "wrong 198.51.100.1, admit 198.51.100.2, admit A, wrong A, admit A"
            << first + " | check 250 | - | check 0 | Yanlış parola: 198.51.100.1 (1. deneme) | "
                       "check 250 | check 0 | Yanlış parola: 192.0.2.1 (3. deneme; son satırdan "
                       "bu yana 2) | check 1000";
        QTest::newRow("a budget for all clients, a right password gives back")
            << "spray 40, admit A, +1000, admit A, right A, admit 192.0.2.2"
            << "checked 30 | spent 1000 | check 0 | - | check 0";
        QTest::newRow("one log line a minute per client")
            << "admit A, wrong A, +300, admit A, wrong A, +300, admit A, wrong A, flush, +60000, "
               "flush, flush"
            << first +
                   " | check 0 | - | check 200 | - | - | Yanlış parola: 192.0.2.1 (3. deneme; son "
                   "satırdan bu yana 2) | -";
    }

    void guesses()
    {
        QFETCH(QString, steps);
        QFETCH(QString, answers);
        qint64 now = 1000000;
        relo::GuessGuard guard([&now] { return now; });
        QHash<QString, relo::GuessGuard::Ticket> tickets;
        int fresh = 0;
        const auto newcomer = [&] { return QHostAddress(quint32(0x0a000000 + ++fresh)); };
        QStringList got;
        for (const QString &step : steps.split(QStringLiteral(", "))) {
            const QString what = step.section(u' ', 0, 0);
            const QString arg = step.section(u' ', 1).replace(u'A', QStringLiteral("192.0.2.1"));
            if (what.startsWith(u'+')) {
                now += what.mid(1).toInt();
            } else if (what == QLatin1String("flush")) {
                const QStringList lines = guard.overdueLines();
                got << (lines.isEmpty() ? QStringLiteral("-") : lines.join(u'/'));
            } else if (what == QLatin1String("admit")) {
                const relo::GuessGuard::Ticket t = guard.admit(QHostAddress(arg));
                tickets.insert(arg, t);
                got << QStringList{"check", "busy", "spent"}.at(t.kind) + u' ' +
                           QString::number(t.waitMs);
            } else if (what == QLatin1String("wrong") || what == QLatin1String("right")) {
                const QString line = guard.checked(tickets.value(arg), QHostAddress(arg),
                                                   what == QLatin1String("right"));
                got << (line.isEmpty() ? QStringLiteral("-") : line);
            } else {
                int checked = 0;
                for (int i = 0; i < arg.toInt(); ++i) {
                    const QHostAddress client = newcomer();
                    const relo::GuessGuard::Ticket t = guard.admit(client);
                    if (t.kind == relo::GuessGuard::Ticket::Check && ++checked)
                        guard.checked(t, client, false);
                    if (what == QLatin1String("fill"))
                        now += 1000;
                }
                if (what == QLatin1String("spray"))
                    got << QStringLiteral("checked %1").arg(checked);
            }
        }
        QCOMPARE(got.join(QStringLiteral(" | ")), answers);
    }

    // The options of relo-web's own, read in-process; the shared reader has its
    // table in tst_settingsfile.
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("error");

        using A = relo::ServiceArguments;
        QTest::newRow("network without a password")
            << QStringList{"--listen", "0.0.0.0:0"} << int(A::Unsafe)
            << "0.0.0.0:0 adresinde parolasız çalışılmaz: parolayı bir dosyanın ilk satırına yazıp "
               "--password-file DOSYA ile verin (ya da RELO_WEB_PASSWORD ortam değişkeniyle)";
        QTest::newRow("empty password")
            << QStringList{"--password-file", "EMPTY"} << int(A::Misuse) << "Parola boş olamaz";
        QTest::newRow("password file anyone may read")
            << QStringList{"--password-file", "OPEN"} << int(A::Unsafe)
            << "Parola dosyasını herkes okuyabilir: OPEN (yalnız sahibi okusun: chmod 600 OPEN)";
        QTest::newRow("certificate without key") << QStringList{"--cert=c"} << int(A::Misuse)
                                                 << "HTTPS için --cert ve --key birlikte verilir";
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(QString, error);
        const QString empty = m_bench.path(QStringLiteral("bos"));
        const QString open = m_bench.path(QStringLiteral("acik"));
        QVERIFY(writeFile(empty, "\n") && writeFile(open, "x\n"));
        QFile::setPermissions(open, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        args.replaceInStrings(QStringLiteral("EMPTY"), empty)
            .replaceInStrings(QStringLiteral("OPEN"), open);
        error.replace(QStringLiteral("OPEN"), open);
        const relo::ParsedWebOptions parsed =
            relo::parseWebOptions(args, {}, QStringLiteral("/"), QProcessEnvironment());
        QCOMPARE(int(parsed.action), action);
        QCOMPARE(parsed.error, error);
    }
};

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
