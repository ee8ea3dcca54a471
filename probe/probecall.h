#pragma once

#include "managementobject.h"

#include <initializer_list>

// Pieces shared by the probe exports.
namespace ProbeCall
{

struct ElementSource {
    const char *tag;
    const char *property;
};

// "<tag>escaped value</tag>" for each source, in order.
QString renderElements(const ManagementObject &object, std::initializer_list<ElementSource> list);

// Replaces the caller's text with the failure text and gives the failure result.
int fail(QString &text, const QString &failureText);

} // namespace ProbeCall
