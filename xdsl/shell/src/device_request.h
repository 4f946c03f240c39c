// Inside the device request layer.
#pragma once

namespace vdsl_request {

// Opens the device; on failure says so on standard output and gives -1.
int open_device_or_report();

}  // namespace vdsl_request
