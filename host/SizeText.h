#pragma once

#include <QString>

// Byte counts and savings as people read them.
namespace SizeText {

QString bytes(qint64 size);
// The saving of going from before to after bytes, in percent with one decimal ("-" when before is 0).
QString saving(qint64 before, qint64 after);

} // namespace SizeText
