#pragma once

#include <QtCore/qglobal.h>

#if defined(NEROVACOMPRESSOR_LIBRARY)
#define NEROVA_EXPORT Q_DECL_EXPORT
#else
#define NEROVA_EXPORT Q_DECL_IMPORT
#endif
