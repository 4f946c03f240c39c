#include "startup.h"

#include "zmo.h"

namespace tools {

bool start_base()
{
    if (!zmo_sys_init()) {
        zmo_log(ZMO_LOG_ERROR, "unable to init libzmo");
        return false;
    }
    if (!zmo_sys_set_default_signals()) {
        zmo_log(ZMO_LOG_ERROR, "unable set signal handlers");
        return false;
    }
    return true;
}

}  // namespace tools
