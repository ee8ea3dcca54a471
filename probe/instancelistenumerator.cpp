#include "instancelistenumerator.h"

InstanceListEnumerator::InstanceListEnumerator(const WqlQuery &query,
                                               QVector<ManagementObject> instances)
    : query(query), instances(std::move(instances))
{
}

bool InstanceListEnumerator::next(ManagementObject &object)
{
    while (position < instances.size()) {
        ManagementObject candidate = instances.at(position++);
        if (!query.matches(candidate))
            continue;
        query.project(candidate);
        object = candidate;
        return true;
    }
    return false;
}
