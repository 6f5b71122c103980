#include "prefs/app_language.h"

namespace tovalo {

std::string_view rawValue(AppLanguage language) {
    switch (language) {
        case AppLanguage::system:
            return "system";
        case AppLanguage::english:
            return "en";
        case AppLanguage::chinese:
            return "zh-Hans";
    }
    return "system";
}

std::optional<AppLanguage> parseAppLanguage(std::string_view raw) {
    for (const auto language : kAllAppLanguages) {
        if (rawValue(language) == raw) {
            return language;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> localeIdentifier(AppLanguage language) {
    if (language == AppLanguage::system) {
        return std::nullopt;
    }
    return rawValue(language);
}

std::optional<std::vector<std::string>> languageOverride(AppLanguage language) {
    if (language == AppLanguage::system) {
        return std::nullopt;
    }
    return std::vector<std::string>{std::string(rawValue(language))};
}

}  // namespace tovalo
