// The monitor tests' peer: publishes an object as NAME on URL and prints "ready". Arguments: URL NAME
#include <QCoreApplication>
#include <QRemoteObjectHost>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3)
        return 2;
    QRemoteObjectHost host;
    if (!host.setHostUrl(QUrl(arguments.at(1))))
        return 3;
    // Any QObject will do; a timer gives the replica a few properties to carry.
    QTimer published;
    if (!host.enableRemoting(&published, arguments.at(2)))
        return 4;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
