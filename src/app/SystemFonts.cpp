#include "SystemFonts.h"

#include <QFontDatabase>

QString SystemFonts::sans()
{
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QString SystemFonts::mono()
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}
