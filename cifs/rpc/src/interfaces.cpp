// The interface table, start and stop of the interfaces, and a pipe's open,
// close and information.
#include "dcerpc_call.h"

#include "csfiles.h"
#include "cmstring.h"

#include <cstring>

namespace {

using Getter = const CSDcerpcInterface *(*)(void);

// The order binding searches; a context slot holds an index into it. Each
// interface lives in its own file behind its getter.
const Getter rpcInterfaces[CS_RPC_INTERFACES] = {csRpcSrvsvc, csRpcWkssvc, csRpcSpoolss, csRpcLsa,
                                                 csRpcLsads,  csRpcSamr,   csRpcWinReg};

// Pipe names are 8-bit ASCII; anything else names no pipe of ours.
bool narrow(const CMWchar *name, char *out, uint32_t size)
{
    uint32_t i = 0;
    for (; name[i]; ++i) {
        if (i + 1 >= size || name[i] > 0x7F)
            return false;
        out[i] = char(name[i]);
    }
    out[i] = 0;
    return true;
}

}  // namespace

namespace rpc {

bool pipeName(const CSFile *pipe, char *out, uint32_t size)
{
    const CSName *n = csGetNameByNid(pipe->nid);
    if (!n)
        return false;
    // The open name is a path on IPC$, separated by '\\' as the client
    // gave it or by '/' as the server keeps host paths; opens through the old
    // commands may keep the "PIPE" folder.
    auto separator = [](CMWchar c) { return c == '\\' || c == '/'; };
    const CMWchar *p = n->path;
    if (separator(*p))
        ++p;
    static const char kPipe[] = "pipe";
    bool prefixed = true;
    for (uint32_t i = 0; prefixed && i < 4; ++i)
        prefixed = p[i] != 0 && (p[i] | 0x20) == kPipe[i];
    if (prefixed && separator(p[4]))
        p += 5;
    return narrow(p, out, size);
}

}  // namespace rpc

extern "C" {

const CSDcerpcInterface *csDcerpcGetInterface(uint32_t index)
{
    return index < CS_RPC_INTERFACES ? rpcInterfaces[index]() : nullptr;
}

int csDcerpcInit(void)
{
    for (Getter g : rpcInterfaces) {
        const CSDcerpcInterface *f = g();
        if (f->init && f->init() == -1)
            return -1;
    }
    return 0;
}

void csDcerpcStop(void)
{
    for (Getter g : rpcInterfaces) {
        const CSDcerpcInterface *f = g();
        if (f->stop)
            f->stop();
    }
}

int csDcerpcOpenPipe(const CMWchar *name, CSFile *pipe)
{
    if (!name || !pipe || cmWStrlen(name) >= CS_PIPE_CONTEXTS)
        return 0;
    char text[CS_PIPE_CONTEXTS];
    if (!narrow(name, text, sizeof text))
        return 0;
    for (Getter g : rpcInterfaces) {
        if (std::strcmp(g()->name, text) != 0)
            continue;
        rpc::freeCall(pipe);
        pipe->pipe = 1;
        // Before a bind says otherwise, answers are cut as DCE/RPC's
        // default fragment size allows.
        pipe->maxResponseFragment = uint16_t(CS_RPC_DEFAULT_FRAGMENT);
        pipe->pipeOutputLimit = 0;
        return 1;
    }
    return 0;
}

int csDcerpcClosePipe(CSFile *pipe)
{
    if (!pipe)
        return 0;
    rpc::freeCall(pipe);
    // Every slot: an unbound one between bound ones must not hide a close hook.
    for (uint32_t &slot : pipe->pipeContexts) {
        if (slot == rpc::kUnbound)
            continue;
        const CSDcerpcInterface *f = csDcerpcGetInterface(slot);
        if (f && f->close)
            f->close(pipe);
        slot = rpc::kUnbound;
    }
    return 0;
}

int csDcerpcGetPipeInformation(CSFile *, SYFileInformation *info)
{
    if (!info)
        return 0;
    info->endOfFile = CMUint64{0, 0};
    info->allocationSize = CMUint64{65616, 0};
    info->attributes = 0;
    info->reserved = 1;
    info->isDirectory = 1;
    return 0;
}

}  // extern "C"
