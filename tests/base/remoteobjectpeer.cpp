// The other process of the remote object monitor tests: publishes one object under a name on a URL and
// prints "ready" once it can be reached. Usage: remoteobjectpeer URL NAME
#include <QCoreApplication>
#include <QRemoteObjectHost>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: remoteobjectpeer URL NAME\n");
        return 2;
    }
    QRemoteObjectHost host;
    if (!host.setHostUrl(QUrl(arguments.at(1))))
        return 3;
    // Any QObject will do; a timer gives the replica a few properties to carry.
    QTimer published;
    published.setObjectName(QStringLiteral("published"));
    published.setInterval(250);
    if (!host.enableRemoting(&published, arguments.at(2)))
        return 4;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
