// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PhraseWrapping.hpp"

#include <QLabel>

namespace {
enum class Script { kanji, hiragana, katakana, closing, opening, other };

Script scriptOf(QChar c) {
  const char16_t u = c.unicode();
  if ((u >= 0x4E00 && u <= 0x9FFF) || u == 0x3005) return Script::kanji;
  if (u >= 0x3041 && u <= 0x309F) return Script::hiragana;
  if ((u >= 0x30A0 && u <= 0x30FF) || (u >= 0xFF66 && u <= 0xFF9F)) return Script::katakana;
  if (u == 0x3001 || u == 0x3002 || u == 0xFF0C || u == 0xFF0E || u == 0xFF09 || u == 0x300D || u == 0x300F ||
      u == 0xFF1A || u == 0xFF01 || u == 0xFF1F)
    return Script::closing;
  if (u == 0xFF08 || u == 0x300C || u == 0x300E) return Script::opening;
  return Script::other;
}

bool japanese(Script s) { return s != Script::other; }

// Where one phrase ends and the next begins.
bool phraseBoundary(Script before, Script after) {
  if (before == Script::closing || after == Script::opening) return true;
  if (after == Script::closing || before == Script::opening) return false;
  if (before == Script::hiragana) return after == Script::kanji || after == Script::katakana;
  if (before == Script::katakana) return after == Script::kanji;
  if (before == Script::kanji) return after == Script::katakana;
  return false;
}

// Longer runs are left breakable: no line of the window is narrower than this many characters.
constexpr int longestKeptPhrase = 10;
constexpr QChar wordJoiner(0x2060);
}  // namespace

QString keepPhrasesTogether(const QString& text) {
  QString result;
  result.reserve(text.size() * 2);
  int phraseStart = 0;
  for (int i = 0; i < text.size(); ++i) {
    if (i > 0) {
      const Script before = scriptOf(text[i - 1]), after = scriptOf(text[i]);
      if (!japanese(before) || !japanese(after) || phraseBoundary(before, after)) {
        phraseStart = i;
      } else {
        // Join only a phrase short enough to fit a line.
        int end = i;
        while (end < text.size() && japanese(scriptOf(text[end])) &&
               !phraseBoundary(scriptOf(text[end - 1]), scriptOf(text[end])))
          ++end;
        if (end - phraseStart <= longestKeptPhrase) result += wordJoiner;
      }
    }
    result += text[i];
  }
  return result;
}

void setPhraseWrappedText(QLabel* label, const QString& text) {
  label->setText(keepPhrasesTogether(text));
  label->setAccessibleName(text);
}
