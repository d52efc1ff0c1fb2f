#include "web/webserver.h"

#include "core/consoleline.h"
#include "core/servicecore.h"
#include "web/httpserver.h"
#include "web/liveclients.h"
#include "web_version.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

namespace relo {

namespace {

// The certificate and key for HTTPS, or false with `error` when they cannot be
// used.
bool readTls(const WebOptions &options, QSslConfiguration *tls, QString *error)
{
    QFile certFile(options.certFile);
    QFile keyFile(options.keyFile);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Sertifika veya anahtar okunamadı: %1, %2")
                     .arg(options.certFile, options.keyFile);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromDevice(&certFile);
    const QByteArray keyText = keyFile.readAll();
    QSslKey key(keyText, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(keyText, QSsl::Ec);
    if (chain.isEmpty() || key.isNull()) {
        *error = QStringLiteral("Sertifika veya anahtar PEM biçiminde değil: %1, %2")
                     .arg(options.certFile, options.keyFile);
        return false;
    }
    *tls = QSslConfiguration::defaultConfiguration();
    tls->setLocalCertificateChain(chain);
    tls->setPrivateKey(key);
    return true;
}

} // namespace

QString WebServer::version()
{
    return QLatin1String(WebVersion::Text);
}

WebServer::WebServer(const WebOptions &options, const QString &settingsFolder, SerialPort *port,
                     QObject *parent)
    : QObject(parent), m_options(options), m_access(options),
      m_core(new ServiceCore(settingsFolder, port, this)),
      m_http(new HttpServer(
          [this](const HttpRequest &request, HttpResponder &&responder) {
              serve(request, std::move(responder));
          },
          &WebServer::refuseUnread, QStringLiteral("/api/live"), this)),
      m_live(new LiveClients(m_http->webSockets(), &m_access, this))
{
    connect(m_core, &ServiceCore::stateChanged, this, [this](Mask, Mask changed) {
        if (changed)
            m_live->tell(stateJson());
    });
    connect(m_core, &ServiceCore::finished, this, &WebServer::onFinished);
    // No new connection once stopping; those open are answered first.
    connect(m_core, &ServiceCore::stopping, m_http, &QTcpServer::close);
    connect(m_core, &ServiceCore::ending, this, &WebServer::closeAll);
    connect(m_core, &ServiceCore::stopped, this, &WebServer::stopped);
}

WebServer::~WebServer() = default;

bool WebServer::start(QString *error)
{
    const Mask mask = m_core->start();
    m_live->tell(stateJson());
    if (!m_options.certFile.isEmpty()) {
        QSslConfiguration tls;
        if (!readTls(m_options, &tls, error))
            return false;
        m_http->setTls(tls);
    }
    if (!m_http->listen(m_options.address, m_options.port)) {
        *error = QStringLiteral("%1 dinlenemiyor: %2")
                     .arg(m_options.listenText(), m_http->errorString());
        return false;
    }
    WebOptions shown = m_options;
    shown.port = m_http->serverPort();
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
    const std::unique_ptr<HttpResponder> held = std::move(it->second);
    m_waiting.erase(it);
    if (!held->isOpen())
        return;
    switch (outcome) {
    case CommandQueue::Outcome::Sent:
        return reply(*held, Status::Ok, JsonType, stateJson());
    case CommandQueue::Outcome::NotSaved:
        // The frames went out: the state is what was sent.
        return reply(*held, Status::Ok, JsonType, stateJson(false));
    case CommandQueue::Outcome::PortFailed:
        return replyError(*held, Status::ServiceUnavailable, error);
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
    for (const auto &[id, held] : m_waiting)
        replyError(*held, Status::ServiceUnavailable, QStringLiteral("relo-web durduruldu"));
    m_waiting.clear();
    m_live->closeAll();
}

} // namespace relo
