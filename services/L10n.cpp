// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/L10n.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "ports/Environment.hpp"
#include "services/AppLog.hpp"
#include "base/ProcessWide.hpp"

namespace fs = std::filesystem;

namespace {
L10n::State& mutableState() {
  return processWide<L10n::State>();
}

struct EnvironmentPort {
  const Environment* environment = nullptr;
};
const Environment* environmentPort() { return processWide<EnvironmentPort>().environment; }

bool isSupported(const std::string& code) {
  return std::find(L10n::supportedLanguageCodes.begin(), L10n::supportedLanguageCodes.end(), code) !=
         L10n::supportedLanguageCodes.end();
}

// A table is a JSON object whose members are all strings; anything else is unusable.
std::optional<L10n::Table> readTable(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  const auto json = nlohmann::json::parse(content, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  L10n::Table table;
  for (const auto& [key, value] : json.items()) {
    if (!value.is_string()) return std::nullopt;
    table.emplace(key, value.get<std::string>());
  }
  return table;
}

std::optional<L10n::Table> firstReadableTable(const std::string& code) {
  for (const auto& candidate : L10n::candidateURLs(code)) {
    if (auto table = readTable(candidate)) return table;
  }
  return std::nullopt;
}
}  // namespace

void L10n::useEnvironment(const Environment* environment) {
  processWide<EnvironmentPort>().environment = environment;
  State& s = mutableState();
  s.cachedLanguageCode.reset();
  s.cachedTable.reset();
}

void L10n::setPreferredLanguage(std::optional<std::string> code) {
  State& s = mutableState();
  s.overrideLanguageCode = std::move(code);
  s.cachedLanguageCode.reset();
  s.cachedTable.reset();
}

std::string L10n::resolvedLanguageCode() {
  const State& s = mutableState();
  if (s.overrideLanguageCode && isSupported(*s.overrideLanguageCode)) return *s.overrideLanguageCode;
  if (const Environment* environment = environmentPort()) {
    for (const auto& entry : environment->preferredLanguages()) {
      const std::string base = entry.substr(0, entry.find('-'));
      if (isSupported(base)) return base;
    }
  }
  return "en";
}

std::vector<fs::path> L10n::candidateURLs(const std::string& code) {
  const std::string fileName = code + ".json";
  const fs::path relative = fs::path("AppResources") / "Localization" / fileName;
  std::vector<fs::path> candidates;
  const Environment* environment = environmentPort();
  if (!environment) {
    // Without the environment port only the process's own working folder is known.
    std::error_code error;
    const fs::path cwd = fs::current_path(error);
    if (!error) candidates.push_back(cwd / relative);
    return candidates;
  }
  if (const auto resources = environment->bundleResourcesDirectory()) {
    candidates.push_back(*resources / "Localization" / fileName);
  }
  candidates.push_back(environment->currentDirectory() / relative);
  if (const auto executable = environment->executablePath()) {
    const fs::path absolute =
        executable->is_absolute() ? *executable : environment->currentDirectory() / *executable;
    const fs::path folder = absolute.lexically_normal().parent_path();
    candidates.push_back(folder / relative);
    // Inside an application bundle the executable sits in Contents/MacOS.
    if (folder.filename() == "MacOS") candidates.push_back(folder.parent_path().parent_path() / relative);
  }
  return candidates;
}

const L10n::Table& L10n::loadTable() {
  State& s = mutableState();
  const std::string code = resolvedLanguageCode();
  if (s.cachedLanguageCode == code && s.cachedTable) return *s.cachedTable;
  auto table = firstReadableTable(code);
  if (!table && code != "en") table = firstReadableTable("en");
  // Every text would show as its key: worth one line per language switch.
  if (!table) AppLog::app.error("No localization table found for \"" + code + "\"; texts show their keys");
  s.cachedLanguageCode = code;
  s.cachedTable = table ? std::move(*table) : Table{};
  return *s.cachedTable;
}

std::string L10n::text(const std::string& key, const std::map<std::string, std::string>& replacements) {
  const Table& table = loadTable();
  const auto found = table.find(key);
  std::string result = found == table.end() ? key : found->second;
  for (const auto& [name, replacement] : replacements) {
    const std::string placeholder = "{" + name + "}";
    for (auto at = result.find(placeholder); at != std::string::npos;
         at = result.find(placeholder, at + replacement.size())) {
      result.replace(at, placeholder.size(), replacement);
    }
  }
  return result;
}

const L10n::State& L10n::state() { return mutableState(); }

void L10n::resetForTesting() { mutableState() = State{}; }
