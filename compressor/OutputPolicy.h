#pragma once

#include <base/NerovaGlobal.h>

#include <QString>
#include <QVariantMap>

// The optional size limit and metadata policy of a request ("maxWidth", "maxHeight", "strip"); a
// request without them asks for neither, and every task then runs as it always has.
class NEROVA_EXPORT OutputPolicy
{
public:
    explicit OutputPolicy(const QVariantMap& params);

    // False when a value is malformed: a size that is not a whole number from 0 to 65535, a "strip"
    // other than "gps" or "all". The task then refuses the request before anything starts.
    bool isValid() const { return mValid; }
    // Neither a size limit nor a strip policy.
    bool isDefault() const { return !hasBox() && mStrip.isEmpty(); }
    bool hasBox() const { return mMaxWidth > 0 || mMaxHeight > 0; }
    int maxWidth() const { return mMaxWidth; }
    int maxHeight() const { return mMaxHeight; }
    // "gps", "all", or empty to keep all metadata.
    QString strip() const { return mStrip; }
    // The box as the image tools take it: "WxH", 0 for a side without limit.
    QString boxArgument() const;

private:
    int mMaxWidth = 0;
    int mMaxHeight = 0;
    QString mStrip;
    bool mValid = true;
};
