// The management-core framework stand-in, whole: what plug-ins build against.
#ifndef ZMOCORE_H
#define ZMOCORE_H

#include "zmocore/base.h"
#include "zmocore/cifs.h"
#include "zmocore/command.h"
#include "zmocore/event.h"
#include "zmocore/interface.h"
#include "zmocore/io.h"
#include "zmocore/module.h"
#include "zmocore/netfilter.h"
#include "zmocore/network.h"
#include "zmocore/regex.h"
#include "zmocore/services.h"
#include "zmocore/task.h"
#include "zmocore/xml.h"

#endif
