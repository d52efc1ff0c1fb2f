#include "webserver.h"

#include "connectionguard.h"
#include "consoleline.h"
#include "liveclients.h"
#include "serviceutil.h"
#include "settingsfile.h"
#include "settingsfolder.h"
#include "statewatcher.h"
#include "web_version.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTimer>

namespace relo {

namespace {

// The listening socket for HTTPS, or nothing with `error` when the certificate
// or its key cannot be used.
QTcpServer *tlsServer(const WebOptions &options, ConnectionGuard *guard, QObject *parent,
                      QString *error)
{
    QFile certFile(options.certFile);
    QFile keyFile(options.keyFile);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Sertifika veya anahtar okunamadı: %1, %2")
                     .arg(options.certFile, options.keyFile);
        return nullptr;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromDevice(&certFile);
    const QByteArray keyText = keyFile.readAll();
    QSslKey key(keyText, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(keyText, QSsl::Ec);
    if (chain.isEmpty() || key.isNull()) {
        *error = QStringLiteral("Sertifika veya anahtar PEM biçiminde değil: %1, %2")
                     .arg(options.certFile, options.keyFile);
        return nullptr;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    auto *server = new GuardedServer<QSslServer>(guard, parent);
    server->setSslConfiguration(tls);
    return server;
}

} // namespace

QString WebServer::version()
{
    return QStringLiteral("%1.%2.%3")
        .arg(WebVersion::Major)
        .arg(WebVersion::Minor)
        .arg(WebVersion::Revision);
}

WebServer::WebServer(const WebOptions &options, const QString &settingsFolder, SerialPort *port,
                     QObject *parent)
    : QObject(parent), m_options(options), m_settingsFolder(settingsFolder), m_access(options),
      m_queue(new CommandQueue(port, settingsFolder, this)),
      m_watch(new StateWatcher(settingsFolder, this)), m_http(new QHttpServer(this)),
      m_guard(new ConnectionGuard(this)), m_live(new LiveClients(m_http, &m_access, m_guard, this)),
      m_stopLimit(new QTimer(this))
{
    m_queue->setFirstFrameAtOnce(true); // a switch must feel instant
    connect(m_queue, &CommandQueue::batchStarted, this, &WebServer::onBatchStarted);
    connect(m_queue, &CommandQueue::finished, this, &WebServer::onFinished);
    connect(m_watch, &StateWatcher::maskChanged, this, &WebServer::onFileChanged);

    const auto route = [this](const char *path, Route kind) {
        m_http->route(path, [this, kind](const QHttpServerRequest &request,
                                         QHttpServerResponder &&responder) {
            serve(kind, {}, request, std::move(responder));
        });
    };
    const auto routeWithArg = [this](const char *path, Route kind) {
        m_http->route(path, [this, kind](const QString &arg, const QHttpServerRequest &request,
                                         QHttpServerResponder &&responder) {
            serve(kind, arg, request, std::move(responder));
        });
    };
    route("/", Route::Page);
    route("/api/state", Route::State);
    route("/api/mask", Route::WholeMask);
    route("/api/live", Route::Live);
    route("/api/login", Route::Login);
    routeWithArg("/api/channels/<arg>", Route::Channel);
    routeWithArg("/<arg>", Route::File);
    m_http->setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            serve(Route::Missing, {}, request, std::move(responder));
        });

    m_stopLimit->setSingleShot(true);
    connect(m_stopLimit, &QTimer::timeout, this, &WebServer::finishStop);
}

WebServer::~WebServer() = default;

bool WebServer::start(QString *error)
{
    m_mask = m_watch->start();
    m_live->tell(stateJson());
    QTcpServer *server = m_options.certFile.isEmpty() ? new GuardedServer<QTcpServer>(m_guard, this)
                                                      : tlsServer(m_options, m_guard, this, error);
    if (!server)
        return false;
    if (!server->listen(m_options.address, m_options.port)) {
        *error = QStringLiteral("%1 dinlenemiyor: %2")
                     .arg(m_options.listenText(), server->errorString());
        delete server;
        return false;
    }
    m_http->bind(server);
    WebOptions shown = m_options;
    shown.port = server->serverPort();
    printLine(stderr, QStringLiteral("relo-web %1 başladı: %2://%3/, %4, %5, ayar dosyası %6")
                          .arg(version(),
                               m_options.certFile.isEmpty() ? QStringLiteral("http")
                                                            : QStringLiteral("https"),
                               shown.listenText(),
                               m_access.passwordNeeded() ? QStringLiteral("parola ile")
                                                         : QStringLiteral("parolasız"),
                               openChannelsText(m_mask), settingsPath(m_settingsFolder)));
    return true;
}

void WebServer::onBatchStarted(Mask newMask)
{
    printLine(stderr, QStringLiteral("Gönderiliyor: %1").arg(openChannelsText(newMask)));
    adopt(newMask);
}

void WebServer::onFinished(int id, CommandQueue::Outcome outcome, const QString &error)
{
    const auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    const std::unique_ptr<HeldResponder> held = std::move(it->second);
    m_waiting.erase(it);
    if (outcome != CommandQueue::Outcome::Sent) {
        m_failure = error;
        // Every change of a batch finishes at once: one line for all of them.
        if (!m_failureQueued) {
            m_failureQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_failureQueued = false;
                printLine(stderr, m_failure);
                finishStopWhenDone();
            });
        }
    }
    switch (outcome) {
    case CommandQueue::Outcome::Sent:
        // Perhaps sent by another process, whose save the watch has not seen yet.
        adopt(savedMask(m_settingsFolder));
        if (held->socket)
            reply(held->responder, Status::Ok, JsonType, stateJson());
        break;
    case CommandQueue::Outcome::NotSaved:
        // The frames went out: the state is what was sent.
        if (held->socket)
            reply(held->responder, Status::Ok, JsonType, stateJson(false));
        break;
    case CommandQueue::Outcome::PortFailed:
        // What did not go out is not on the wire: ayar.ini tells what is.
        adopt(savedMask(m_settingsFolder));
        if (held->socket)
            replyError(held->responder, Status::ServiceUnavailable, error);
        break;
    }
    finishStopWhenDone();
}

void WebServer::onFileChanged(Mask saved)
{
    if (saved == m_mask)
        return;
    printLine(stderr, QStringLiteral("ayar.ini değişti: %1").arg(openChannelsText(saved)));
    adopt(saved);
}

void WebServer::adopt(Mask mask)
{
    if (mask == m_mask)
        return;
    m_mask = mask;
    m_live->tell(stateJson());
}

QByteArray WebServer::stateJson(bool saved) const
{
    QJsonArray channels;
    for (int channel = 1; channel <= ChannelCount; ++channel)
        channels.append(bool(m_mask & channelBit(channel)));
    QJsonObject state{{QStringLiteral("mask"), m_mask}, {QStringLiteral("channels"), channels}};
    if (!saved)
        state.insert(QStringLiteral("saved"), false);
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

void WebServer::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    for (QTcpServer *server : m_http->servers())
        server->close();
    m_stopLimit->start(StopWaitMs);
    if (!m_waiting.empty() || m_failureQueued)
        printLine(stderr,
                  QStringLiteral("Durduruluyor: gönderilmekte olan değişiklikler bekleniyor"));
    finishStopWhenDone();
}

void WebServer::finishStopWhenDone()
{
    if (m_stopLimit->isActive() && m_waiting.empty() && !m_failureQueued)
        finishStop();
}

// Once, when stopping: the changes under way are done, or StopWaitMs passed.
void WebServer::finishStop()
{
    m_stopLimit->stop();
    m_queue->cancel();
    for (const auto &[id, held] : m_waiting) {
        if (held->socket)
            replyError(held->responder, Status::ServiceUnavailable,
                       QStringLiteral("relo-web durduruldu"));
    }
    m_waiting.clear();
    m_live->closeAll();
    printLine(stderr, QStringLiteral("Durduruldu"));
    Q_EMIT stopped();
}

} // namespace relo
