#pragma once

#include <QStringList>
#include <QVariant>

// Several values as one line of text, so that a test compares them all at once and a
// failure shows them side by side.
inline QString joined(const QVariantList& parts)
{
    QStringList texts;
    for (const QVariant& part : parts)
        texts << part.toString();
    return texts.join(u' ');
}
