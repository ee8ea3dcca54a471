#include "probecall.h"

#include "valueforms.h"

namespace ProbeCall
{

QString renderElements(const ManagementObject &object, std::initializer_list<ElementSource> list)
{
    QString out;
    for (const ElementSource &source : list)
        out += element(QLatin1String(source.tag),
                       escapedText(object.get(QLatin1String(source.property))));
    return out;
}

int fail(QString &text, const QString &failureText)
{
    text = failureText;
    return 1;
}

} // namespace ProbeCall
