#pragma once

#include <QByteArray>
#include <QStringList>

// The openssl command-line program as an independent reference for the cipher tests.
namespace OpenSslTool {

// Whether an openssl program is on the PATH.
bool available();
// Runs openssl with the arguments, feeding input on its standard input; the standard output, or a null
// array when it could not run or failed.
QByteArray run(const QStringList& arguments, const QByteArray& input);

} // namespace OpenSslTool
