// UTF-8 validation speed: Nerova::isUtf8String beside QString::fromUtf8 on the same buffers, side by side
// in one run. Usage: utf8_validate [MEGABYTES] [ROUNDS]   (defaults 8 and 10)

#include <base/Helpers.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace {

// Text of about size bytes; every lineLength bytes of ASCII carry one non-ASCII word (0: pure ASCII).
QByteArray makeText(int size, int lineLength)
{
    const QByteArray ascii = "The quick brown fox jumps over the lazy dog, 0123456789; ";
    const QByteArray foreign = QStringLiteral("Größe € 日本 😀 ").toUtf8();
    QByteArray text;
    text.reserve(size + 256);
    int sinceForeign = 0;
    while (text.size() < size) {
        text += ascii;
        sinceForeign += ascii.size();
        if (lineLength > 0 && sinceForeign >= lineLength) {
            text += foreign;
            sinceForeign = 0;
        }
    }
    return text;
}

template <typename Work> double bestMegabytesPerSecond(const QByteArray& text, int rounds, Work work)
{
    double best = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        best = qMax(best, text.size() / 1e6 / seconds);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int megabytes = arguments.size() > 1 ? arguments.at(1).toInt() : 8;
    const int rounds = arguments.size() > 2 ? arguments.at(2).toInt() : 10;
    if (megabytes <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: utf8_validate [MEGABYTES] [ROUNDS]\n");
        return 2;
    }

    std::printf("%-28s %14s %18s %8s\n", "text", "isUtf8String", "QString::fromUtf8", "ratio");
    const struct
    {
        const char* name;
        int lineLength;
    } kinds[] = {{"ASCII only", 0}, {"ASCII, 1 word per 1000 B", 1000}, {"ASCII, 1 word per 100 B", 100}};
    for (const auto& kind : kinds) {
        const QByteArray text = makeText(megabytes * 1000 * 1000, kind.lineLength);
        volatile bool valid = false;
        volatile int length = 0;
        const double ours =
            bestMegabytesPerSecond(text, rounds, [&] { valid = Nerova::isUtf8String(text.constData()); });
        const double qt =
            bestMegabytesPerSecond(text, rounds, [&] { length = QString::fromUtf8(text).size(); });
        if (!valid) {
            std::fprintf(stderr, "valid text judged invalid\n");
            return 1;
        }
        std::printf("%-28s %9.0f MB/s %13.0f MB/s %7.2fx\n", kind.name, ours, qt, ours / qt);
    }
    return 0;
}
