#pragma once

#include <QString>

// Object name of element `index` of a control array, e.g. "sliGain_1": how tests, automated
// checks and the accessibility tree tell the elements apart.
inline QString ControlName(const char *name, int index) {
    return QString::fromLatin1(name) + '_' + QString::number(index);
}
