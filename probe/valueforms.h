#pragma once

#include "invprobe.h"

class PropertyValue;

// The text forms every inventory fragment shares.
INVPROBE_EXPORT QString escapeText(const QString &text);
INVPROBE_EXPORT QString joinTextList(const QStringList &list);
// Unescaped text of a property: unsigned 32-bit decimal, 64-bit text, 65535/0, joined lists.
INVPROBE_EXPORT QString variantText(const PropertyValue &value);
// variantText followed by escapeText, the form every interface value is rendered in.
INVPROBE_EXPORT QString escapedText(const PropertyValue &value);
INVPROBE_EXPORT QString twoDecimalForm(double value);
INVPROBE_EXPORT QString integerForm(double value);
INVPROBE_EXPORT QString integerForm(quint64 value);
INVPROBE_EXPORT QString sixDigitForm(double value);
// "<tag>text</tag>"
INVPROBE_EXPORT QString element(const QString &tag, const QString &text);
