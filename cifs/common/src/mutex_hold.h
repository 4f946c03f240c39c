// A system-layer mutex held for the length of a scope.
#pragma once

#include "sythread.h"

class MutexHold {
public:
    explicit MutexHold(SYMutex &m) : m_(m) { syMutexTake(&m_); }
    ~MutexHold() { syMutexGive(&m_); }
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;

private:
    SYMutex &m_;
};
