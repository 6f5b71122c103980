#include "platform/x11/x11_application_identity.h"

namespace tovalo::x11 {

ApplicationIdentity ApplicationIdentity::resolve(const ClientWindowInfo& window,
                                                 const DesktopEntryIndex& index) {
    ApplicationIdentity identity;
    const DesktopEntry* entry = nullptr;
    std::string declared = window.gtkApplicationID;
    if (declared.empty()) {
        declared = window.kdeDesktopFile;
        if (declared.size() > 8 && declared.ends_with(".desktop")) {
            declared.resize(declared.size() - 8);
        }
    }
    if (!declared.empty()) {
        identity.desktopID = declared;
        entry = index.find(declared);
    } else {
        entry = index.findByWMClass(window.wmClassInstance, window.wmClassClass);
        identity.desktopID = entry ? entry->id : window.wmClassClass;
    }
    if (entry) {
        identity.entry = *entry;
        identity.name = entry->name;
    }
    if (identity.name.empty()) {
        identity.name = window.wmClassClass;
    }
    return identity;
}

}  // namespace tovalo::x11
