#pragma once

#include <QString>

// Runs the probes the flags select, one character per section ("1" runs it), and returns the
// inventory document; empty when any probe failed. Safe to run in a pool thread.
QString inventoryDocument(const QString &flags);
