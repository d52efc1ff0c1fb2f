#pragma once

#include <QByteArray>
#include <QHttpServerResponder>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

namespace relo {

// The answers of relo-web, all written here: every one carries its length, is
// never cached, and may load nothing from elsewhere.

using Status = QHttpServerResponder::StatusCode;
using Headers = QList<QPair<QByteArray, QByteArray>>;

inline const QByteArray JsonType = "application/json; charset=utf-8";

// An answer that comes later (when a batch is done, after the delay for a wrong
// password): the responder, and whether its connection is still there.
struct HeldResponder
{
    QPointer<QTcpSocket> socket;
    QHttpServerResponder responder;
};

void reply(QHttpServerResponder &responder, Status status, const QByteArray &type,
           const QByteArray &body, const Headers &extra = {});

// {"error": "<text>"}
QByteArray errorJson(const QString &text);
void replyError(QHttpServerResponder &responder, Status status, const QString &text,
                const Headers &extra = {});

} // namespace relo
