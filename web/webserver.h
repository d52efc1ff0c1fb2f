#pragma once

#include "core/commandqueue.h"
#include "link/frame.h"
#include "web/access.h"
#include "web/httpreply.h"
#include "web/weboptions.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QHostAddress;

namespace relo {

class HttpServer;
class LiveClients;
class SerialPort;
class ServiceCore;

// relo-web: the eight outputs as a page for any browser and as an HTTP API.
//
//   GET /                   the page (and /page.css, /page.js, /on.png, /off.png)
//   GET /api/state          {"mask": 5, "channels": [true, false, true, ...]}
//   PUT /api/channels/<n>   n = 1..8, body ON, OFF, 1 or 0
//   PUT /api/mask           body 0..255
//   GET /api/live           WebSocket: the state at once and after every change
//   POST /api/login         body: the password; a session cookie in return
//
// A change is answered when the batch that carries it is done: 200 and the
// state ("saved": false when ayar.ini could not be written), or 503 with the
// port's error line. The queue, the state and the stop are ServiceCore's; a
// change written to ayar.ini by any program reaches every open page. Who may do
// what is Access's to say. One line on standard error per change and per fault.
class WebServer : public QObject
{
    Q_OBJECT
public:
    static QString version();

    // `port` is used, not owned; `settingsFolder` holds ayar.ini.
    WebServer(const WebOptions &options, const QString &settingsFolder, SerialPort *port,
              QObject *parent = nullptr);
    ~WebServer() override;

    // Listens; false with `error` when the address or the certificate is refused.
    bool start(QString *error);
    // Lets the changes under way finish, closes every connection, then emits
    // stopped(). SIGTERM, SIGINT and SIGHUP do the same.
    void stop();

Q_SIGNALS:
    void stopped();

private:
    enum class Route { Page, File, State, Channel, WholeMask, Live, Login, Missing };

    // webapi.cpp: the routes.
    static Route route(const QString &path, QString *arg);
    void serve(const HttpRequest &request, HttpResponder &&responder);
    void serveApi(Route route, const QString &arg, const HttpRequest &request,
                  HttpResponder &&responder);
    void serveFile(const QString &name, HttpResponder &responder);
    void login(const HttpRequest &request, HttpResponder &&responder);
    void refuse(HttpResponder &responder, GuessGuard::Verdict verdict, int retryAfterS);
    void change(const QString &what, const MaskChange &change, const HttpRequest &request,
                HttpResponder &&responder);
    // A request refused before it was read whole.
    static void refuseUnread(HttpResponder &responder, Status status);

    // webserver.cpp: the answers to changes, the end.
    void onFinished(int id, CommandQueue::Outcome outcome, const QString &error);
    QByteArray stateJson(bool saved = true) const;
    void closeAll();

    const WebOptions m_options;
    Access m_access;
    ServiceCore *const m_core;
    HttpServer *const m_http;
    LiveClients *const m_live;

    std::map<int, std::unique_ptr<HttpResponder>> m_waiting; // by queue id
};

} // namespace relo
