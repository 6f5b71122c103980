#pragma once

// The interface language: the system's, English or Simplified Chinese. Its raw value is what
// "preferredLanguage" stores and what analytics report; each case also names the locale the
// views use and the language override that makes looked-up texts follow it.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovalo {

enum class AppLanguage { system, english, chinese };

inline constexpr std::array<AppLanguage, 3> kAllAppLanguages{
    AppLanguage::system, AppLanguage::english, AppLanguage::chinese};

// "system", "en" or "zh-Hans".
std::string_view rawValue(AppLanguage language);
// Nullopt for any other string; each reader states its own fallback.
std::optional<AppLanguage> parseAppLanguage(std::string_view raw);

// The locale identifier views format with: "en" or "zh-Hans"; nullopt for `system`, which
// means the current system locale, followed as it changes.
std::optional<std::string_view> localeIdentifier(AppLanguage language);

// The language list stored under "AppleLanguages": ["en"] or ["zh-Hans"]; nullopt for `system`,
// which means the key is removed so the system's own order applies.
std::optional<std::vector<std::string>> languageOverride(AppLanguage language);

}  // namespace tovalo
