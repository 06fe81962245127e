#include "apps/orvik/demo/demosteps.h"
#include "apps/orvik/plugins/updatecheckplugin.h"
#include "loopback/httptestserver.h"

namespace ORVIK {

int demoUpdateCheck(CommandContext &context)
{
    // A loopback update server that offers version 1.1.0 of "orvik-demo".
    HttpTestServer server;
    if (!server.listen()) {
        context.err << "orvik: cannot start the loopback update server: " << server.errorString() << Qt::endl;
        return ExitFailure;
    }
    HttpTestServer::Route description;
    description.body = "# orvik demo update\r\nname=ORVIK Demo\r\nversion=1.1.0\r\nurl=" +
                       server.url(QStringLiteral("/downloads/orvik-demo-1.1.0.exe")).toEncoded() + "\r\n";
    server.setRoute("/Update/Windows/orvik-demo.txt", description);

    UpdateCheckRequest request;
    request.baseURL = server.url().toString();
    request.name = QStringLiteral("orvik-demo");
    request.currentVersion = QStringLiteral("1.0.0");
    context.out << "update server: " << request.baseURL << ", installed version " << request.currentVersion << Qt::endl;
    const int code = context.runPlugin(kUpdateCheckPluginName, kUpdateCheckEntrySymbol, request);
    if (code == ExitOk && server.requestCount() == 1)
        context.out << "requested: " << server.request(0).method << ' ' << server.request(0).target << Qt::endl;
    return code;
}

} // namespace ORVIK
