#pragma once
// The program's icon for its windows: the installed SVG rendered to PNG at build time (Qt reads
// PNG without a plugin) and compiled in as a Qt resource.

#include <QIcon>

namespace kestrel::qt {

QIcon programIcon();

}  // namespace kestrel::qt
