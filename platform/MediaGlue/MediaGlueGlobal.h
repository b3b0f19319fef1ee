#pragma once

#include <QtCore/qglobal.h>

#if defined(MEDIAGLUE_LIBRARY)
#define MEDIAGLUE_EXPORT Q_DECL_EXPORT
#else
#define MEDIAGLUE_EXPORT Q_DECL_IMPORT
#endif
