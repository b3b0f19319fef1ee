// isUtf8String against Qt's own UTF-8 decoder. Both follow the strict rules: no overlong forms, no
// surrogates, nothing above U+10FFFF, no cut sequence at the end; noncharacters such as U+FFFE are valid
// for both. Qt reports a bad sequence as invalid characters and a cut end as remaining bytes; its header
// handling is switched off so that a leading byte order mark is decoded as a character like any other.
#include "FuzzWorkspace.h"

#include <base/Helpers.h>

#include <QString>
#include <QTextCodec>

#include <cstring>
#include <memory>

namespace {

bool qtAccepts(const char* bytes, int size, QString* decoded)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    *decoded = QTextCodec::codecForMib(106)->toUnicode(bytes, size, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so that reading one byte past the terminating zero is caught.
    const std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    const int length = int(std::strlen(text.get()));

    QString decoded;
    const bool expected = qtAccepts(text.get(), length, &decoded);
    check(Nerova::isUtf8String(text.get()) == expected);
    // Qt agrees with itself: valid text survives the round trip byte for byte, invalid text never does.
    check((decoded.toUtf8() == QByteArray(text.get(), length)) == expected);
    return 0;
}
