#pragma once

#include <QtCore/qglobal.h>

#if defined(NEROVABASE_LIBRARY)
#define NEROVABASE_EXPORT Q_DECL_EXPORT
#else
#define NEROVABASE_EXPORT Q_DECL_IMPORT
#endif
