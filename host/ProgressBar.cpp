#include "ProgressBar.h"

#include <unistd.h>

#include <algorithm>

ProgressBar::ProgressBar(std::FILE* stream) : mStream(stream), mInteractive(isatty(fileno(stream)) == 1)
{
    mTimer.start();
}

QString ProgressBar::clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void ProgressBar::update(double fraction)
{
    if (!mInteractive)
        return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int permille = int(fraction * 1000);
    if (permille == mLastPermille)
        return;
    mLastPermille = permille;

    constexpr int width = 30;
    const int filled = int(fraction * width);
    const qint64 elapsed = mTimer.elapsed() / 1000;
    const QString left = fraction > 0.01 ? clockText(qint64(double(elapsed) * (1.0 - fraction) / fraction))
                                         : QStringLiteral("--:--:--");
    const QString line =
        QStringLiteral("\r[%1%2] %3%  elapsed %4  left %5")
            .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')))
            .arg(fraction * 100.0, 5, 'f', 1)
            .arg(clockText(elapsed), left);
    std::fputs(line.toLocal8Bit().constData(), mStream);
    std::fflush(mStream);
    mDrawn = true;
}

void ProgressBar::finish()
{
    if (!mDrawn)
        return;
    std::fputs("\r\033[K", mStream);
    std::fflush(mStream);
    mDrawn = false;
}
