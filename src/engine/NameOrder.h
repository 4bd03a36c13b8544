#pragma once

#include <QString>
#include <string>

// The order in which names are listed to the user: by Unicode scalar values
// after canonical composition, case-sensitive, without locale rules or
// numeric awareness. "B" < "a" < "b"; "10 x" < "9 x".
namespace nameorder {

// UTF-16 code units put U+E000..U+FFFF after the surrogates of characters
// beyond the BMP, which is not scalar-value order; UCS-4 keys are.
inline std::u32string sortKey(const QString &name)
{
    const QList<uint> ucs4 = name.normalized(QString::NormalizationForm_C).toUcs4();
    return std::u32string(ucs4.begin(), ucs4.end());
}

inline bool less(const QString &a, const QString &b)
{
    return sortKey(a) < sortKey(b);
}

} // namespace nameorder
