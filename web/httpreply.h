#pragma once

#include "web/httpconnection.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace relo {

// The answers of relo-web, all written here: every one carries its length, is
// never cached, and may load nothing from elsewhere; over HTTPS it tells the
// browser to come back over HTTPS only.

inline const QByteArray JsonType = "application/json; charset=utf-8";

void reply(HttpResponder &responder, Status status, const QByteArray &type, const QByteArray &body,
           const Headers &extra = {});

// {"error": "<text>"}
QByteArray errorJson(const QString &text);
void replyError(HttpResponder &responder, Status status, const QString &text,
                const Headers &extra = {});

} // namespace relo
