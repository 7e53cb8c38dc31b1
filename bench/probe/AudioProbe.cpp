#include "ProbeCommands.h"

namespace ProbeCommands {
int peaks(const QStringList &) { return 1; }
int peaksBench(const QStringList &) { return 1; }
int latency(const QStringList &) { return 1; }
} // namespace ProbeCommands
