#pragma once
// The display's metrics in the Prometheus text format, for node_exporter's textfile collector:
// written beside the status file, replaced atomically, removed by the service when it stops.
#include <string>

#include "platform/status_file.h"

namespace plasma {

std::string prometheusText(const StatusReport& report);

}  // namespace plasma
