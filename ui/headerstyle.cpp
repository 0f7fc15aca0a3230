// The flat header of the device table.

#include "ui/headerstyle.h"

namespace {

const char HeaderStyle[]
    = "QHeaderView::section{border-top:0px solid #D8D8D8;border-left:0px solid "
      "#D8D8D8;border-right:1px solid #D8D8D8;border-bottom: 1px solid "
      "#D8D8D8;background-color:white;padding:4px;}QTableCornerButton::section{border-top:0px "
      "solid #D8D8D8;border-left:0px solid #D8D8D8;border-right:1px solid "
      "#D8D8D8;border-bottom: 1px solid #D8D8D8;background-color:white;}";

} // namespace

bool usesFlatHeaderStyle(const QString &productVersion)
{
    return productVersion == QLatin1String("10");
}

QString flatHeaderStyleSheet()
{
    return QLatin1String(HeaderStyle);
}
