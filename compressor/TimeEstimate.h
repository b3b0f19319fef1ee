#pragma once

#include <base/NerovaGlobal.h>

#include <QSharedPointer>

struct AVFormatContext;

// Measures the duration of a source whose container and streams give none, by reading its packets
// (within a few seconds) and comparing each stream's first and last timestamps. Leaves durationMs
// alone when it is already positive; sets 0 when the read ran out of time.
NEROVA_EXPORT void timeEstimate(QSharedPointer<AVFormatContext> formatCtx, long long& durationMs);

// The multiple of m nearest to n; a tie goes to the multiple farther from zero. m must not be 0.
NEROVA_EXPORT int closestNumber(int n, int m);
