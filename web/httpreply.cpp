#include "web/httpreply.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace relo {

void reply(HttpResponder &responder, Status status, const QByteArray &type, const QByteArray &body,
           const Headers &extra)
{
    if (!responder.isOpen())
        return;
    Headers headers{
        {"Content-Type", type},
        {"Content-Length", QByteArray::number(body.size())},
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    };
    if (responder.isTls())
        headers.append(
            qMakePair(QByteArray("Strict-Transport-Security"), QByteArray("max-age=31536000")));
    headers.append(extra);
    responder.write(status, headers, body);
}

QByteArray errorJson(const QString &text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}})
        .toJson(QJsonDocument::Compact);
}

void replyError(HttpResponder &responder, Status status, const QString &text, const Headers &extra)
{
    reply(responder, status, JsonType, errorJson(text), extra);
}

} // namespace relo
