#pragma once

#include <QByteArray>

namespace TCPComm {

// Decodes one complete crosspoint map (F6 through EOM) and replaces the udtXpt records of
// the outputs it names; refreshes the faders when they follow one of those outputs. A bad
// message changes nothing, except that the store stops at the first output beyond the table.
void ProcessCrosspointMap(QByteArray message);

} // namespace TCPComm
