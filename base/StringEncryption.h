#pragma once

#include <base/NerovaGlobal.h>

#include <QString>

namespace Nerova {

// Printable tokens for texts: AES-128-CBC under the suite's fixed key and IV, in Base64, so that every
// copy of the suite reads what any other wrote. The same text always gives the same token.
NEROVA_EXPORT QString encryptString(const QString& text);
// The text of a token, cut at its first U+0000; empty for an empty, cut or damaged token. Blanks and
// line breaks inside the token are ignored.
NEROVA_EXPORT QString decryptString(const QString& token);

} // namespace Nerova
