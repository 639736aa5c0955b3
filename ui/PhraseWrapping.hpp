// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QLabel;

// Japanese is written without spaces, and the line breaker may break between
// any two characters, which cuts words in half ("透明|度"). These keep each
// phrase whole: a line breaks only where a word ends (after its particle or
// ending, before a word of another script, after punctuation). A phrase too
// long for any line still breaks inside. Text without Japanese is unchanged.
QString keepPhrasesTogether(const QString& text);

// Shows `text` with its phrases kept whole; screen readers get `text` itself.
void setPhraseWrappedText(QLabel* label, const QString& text);
