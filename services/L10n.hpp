// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Interface texts by key, from the JSON string tables of the chosen language.
// Process-wide: one cached table, reloaded only when the language changes.
class Environment;

namespace L10n {
using Table = std::map<std::string, std::string>;

inline const std::vector<std::string> supportedLanguageCodes{"en", "ja"};

// Where the tables are looked for and which languages the user prefers, given
// once at start. Without it only the working folder is searched, in English
// unless a language is forced. Drops the cached table.
void useEnvironment(const Environment* environment);

// Forces a language by its code ("en", "ja"), or follows the system for
// nullopt, and drops the cached table so the next lookup reloads.
void setPreferredLanguage(std::optional<std::string> code);

// "en" or "ja": the user's override, else the system's first supported language, else "en".
std::string resolvedLanguageCode();

// Where the table for one language may live, in the order they are tried.
std::vector<std::filesystem::path> candidateURLs(const std::string& code);

// The resolved language's table (the English one when it has none, empty when
// neither can be read); read from disk once per resolved language. The
// reference stays valid until the language changes.
const Table& loadTable();

// The text for a key with every "{name}" replaced literally; the key itself when no table has it.
std::string text(const std::string& key, const std::map<std::string, std::string>& replacements = {});

// Process-wide cache, inspectable and resettable for tests (the environment stays).
struct State {
  std::optional<std::string> overrideLanguageCode;
  std::optional<std::string> cachedLanguageCode;
  std::optional<Table> cachedTable;
};
const State& state();
void resetForTesting();
}  // namespace L10n
