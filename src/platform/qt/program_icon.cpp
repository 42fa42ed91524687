#include "platform/qt/program_icon.h"

namespace kestrel::qt {

QIcon programIcon() {
    // The sizes rendered in CMakeLists.txt; the window manager picks the one it needs.
    static constexpr int kSizes[] = {16, 32, 48, 64, 128};
    QIcon icon;
    for (const int size : kSizes) {
        icon.addFile(QStringLiteral(":/icons/kestrelmap-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace kestrel::qt
