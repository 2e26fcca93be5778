#pragma once

#include "macro/macro_types.h"

// The actions of a "playActions" text such as "按下(A)延迟(50)弹起(A)".
QList<MacroAction> parseActionText(const QString& text, const KeyCodeLookup& hidCodeForKey);
