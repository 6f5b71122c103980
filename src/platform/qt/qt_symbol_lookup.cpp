#include "platform/qt/qt_symbol_lookup.h"

#include <QIcon>
#include <QString>

namespace tovalo::qt {

bool QtSymbolLookup::hasSymbol(std::string_view name) const {
    return QIcon::hasThemeIcon(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

}  // namespace tovalo::qt
