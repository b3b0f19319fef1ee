#include "OutputPolicy.h"

#include <algorithm>

namespace {

// The largest side the image tools and ffmpeg's encoders take.
constexpr int maxSide = 65535;

// A side limit: left out, empty or "0" means none. Only plain digits are taken, so that no sign, blank
// or option-like text reaches a tool.
bool readSide(const QVariantMap& params, const QString& key, int* side)
{
    *side = 0;
    const QString text = params.value(key).toString();
    if (text.isEmpty())
        return true;
    if (text.size() > 5 || !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); }))
        return false;
    *side = text.toInt();
    return *side <= maxSide;
}

} // namespace

OutputPolicy::OutputPolicy(const QVariantMap& params)
{
    const bool sides = readSide(params, QStringLiteral("maxWidth"), &mMaxWidth) &&
                       readSide(params, QStringLiteral("maxHeight"), &mMaxHeight);
    mStrip = params.value(QStringLiteral("strip")).toString();
    const bool strip = mStrip.isEmpty() || mStrip == QLatin1String("gps") || mStrip == QLatin1String("all");
    mValid = sides && strip;
    if (!mValid) {
        mMaxWidth = mMaxHeight = 0;
        mStrip.clear();
    }
}

QString OutputPolicy::boxArgument() const
{
    return QStringLiteral("%1x%2").arg(mMaxWidth).arg(mMaxHeight);
}
