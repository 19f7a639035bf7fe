#include "protocol/Seams.h"

namespace TCPComm {

Seams &seams() {
    static Seams instance;
    return instance;
}

} // namespace TCPComm
