#include "web/httpreply.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace relo {

void reply(QHttpServerResponder &responder, Status status, const QByteArray &type,
           const QByteArray &body, const Headers &extra)
{
    const QTcpSocket *socket = responder.socket();
    if (!socket || !socket->isOpen())
        return;
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; script-src 'self'; style-src 'self'; "
                          "img-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
                          "base-uri 'none'; form-action 'none'");
    for (const auto &header : extra)
        responder.writeHeader(header.first, header.second);
    responder.writeBody(body);
}

QByteArray errorJson(const QString &text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}})
        .toJson(QJsonDocument::Compact);
}

void replyError(QHttpServerResponder &responder, Status status, const QString &text,
                const Headers &extra)
{
    reply(responder, status, JsonType, errorJson(text), extra);
}

} // namespace relo
