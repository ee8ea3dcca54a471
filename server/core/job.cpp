#include "job.h"

void registerJobMetaTypes()
{
    qRegisterMetaType<Job>("Job");
    qRegisterMetaType<QList<Job>>("QList<Job>");
}
