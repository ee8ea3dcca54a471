#pragma once

#include "managementinterface.h"
#include "wqlquery.h"

#include <QVector>

// Hands out the instances of one class that pass the query's WHERE, with its column list.
class INVPROBE_EXPORT InstanceListEnumerator : public ManagementEnumerator
{
public:
    InstanceListEnumerator(const WqlQuery &query, QVector<ManagementObject> instances);
    bool next(ManagementObject &object) override;

private:
    WqlQuery query;
    QVector<ManagementObject> instances;
    int position = 0;
};
