#include "web/webserver.h"

#include "web/connectionguard.h"
#include "core/consoleline.h"
#include "web/liveclients.h"
#include "core/servicecore.h"
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
    return QLatin1String(WebVersion::Text);
}

WebServer::WebServer(const WebOptions &options, const QString &settingsFolder, SerialPort *port,
                     QObject *parent)
    : QObject(parent), m_options(options), m_access(options),
      m_core(new ServiceCore(settingsFolder, port, this)), m_http(new QHttpServer(this)),
      m_guard(new ConnectionGuard(this)), m_live(new LiveClients(m_http, &m_access, m_guard, this))
{
    connect(m_core, &ServiceCore::stateChanged, this, [this](Mask, Mask changed) {
        if (changed)
            m_live->tell(stateJson());
    });
    connect(m_core, &ServiceCore::finished, this, &WebServer::onFinished);
    // No new connection once stopping; those open are answered first.
    connect(m_core, &ServiceCore::stopping, this, [this] {
        for (QTcpServer *server : m_http->servers())
            server->close();
    });
    connect(m_core, &ServiceCore::ending, this, &WebServer::closeAll);
    connect(m_core, &ServiceCore::stopped, this, &WebServer::stopped);

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
}

WebServer::~WebServer() = default;

bool WebServer::start(QString *error)
{
    const Mask mask = m_core->start();
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
    ServiceCore::log(
        QStringLiteral("relo-web %1 başladı: %2://%3/, %4, %5, ayar dosyası %6")
            .arg(version(),
                 m_options.certFile.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"),
                 shown.listenText(),
                 m_access.passwordNeeded() ? QStringLiteral("parola ile")
                                           : QStringLiteral("parolasız"),
                 openChannelsText(mask), m_core->settingsFile()));
    return true;
}

void WebServer::onFinished(int id, CommandQueue::Outcome outcome, const QString &error)
{
    const auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    const std::unique_ptr<HeldResponder> held = std::move(it->second);
    m_waiting.erase(it);
    if (!held->socket)
        return;
    switch (outcome) {
    case CommandQueue::Outcome::Sent:
        return reply(held->responder, Status::Ok, JsonType, stateJson());
    case CommandQueue::Outcome::NotSaved:
        // The frames went out: the state is what was sent.
        return reply(held->responder, Status::Ok, JsonType, stateJson(false));
    case CommandQueue::Outcome::PortFailed:
        return replyError(held->responder, Status::ServiceUnavailable, error);
    }
}

QByteArray WebServer::stateJson(bool saved) const
{
    const Mask mask = m_core->mask();
    QJsonArray channels;
    for (int channel = 1; channel <= ChannelCount; ++channel)
        channels.append(bool(mask & channelBit(channel)));
    QJsonObject state{{QStringLiteral("mask"), mask}, {QStringLiteral("channels"), channels}};
    if (!saved)
        state.insert(QStringLiteral("saved"), false);
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

void WebServer::stop()
{
    m_core->stop();
}

// Once, when stopping: the changes under way are done, or the wait ran out.
void WebServer::closeAll()
{
    for (const auto &[id, held] : m_waiting) {
        if (held->socket)
            replyError(held->responder, Status::ServiceUnavailable,
                       QStringLiteral("relo-web durduruldu"));
    }
    m_waiting.clear();
    m_live->closeAll();
}

} // namespace relo
