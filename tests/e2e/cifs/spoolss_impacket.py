#!/usr/bin/python3
"""The spooler pipe as impacket's rprn client reaches it over SMB, with the
calls its module lacks (StartDocPrinter, WritePrinter, EndDocPrinter,
SetJob, GetPrinterData, SetPrinter, GetPrinter, EnumJobs, GetJob, the forms
and the driver) written here: a document byte-exact on the device, another
user's handle refused, the 51st handle refused, ChangeId before and after a
SetPrinter, the offered sizes 0, short and huge, printers per user.

usage: spoolss_impacket.py DOCUMENT STEP [NT1]  (STEP: probe, document,
offered, enum, handles, information; DOCUMENT.src is what the document step
prints; NT1 keeps the client to SMB1)"""
import sys

from impacket.dcerpc.v5 import rprn, transport
from impacket.dcerpc.v5.dtypes import DWORD, LPWSTR, NULL, ULONG, WSTR
from impacket.dcerpc.v5.ndr import NDRCALL, NDRPOINTER, NDRSTRUCT, NDRUNION, NDRUniConformantArray
from impacket.dcerpc.v5.rpcrt import DCERPCException


class DOC_INFO_1(NDRSTRUCT):
    structure = (("pDocName", LPWSTR), ("pOutputFile", LPWSTR), ("pDatatype", LPWSTR))


class PDOC_INFO_1(NDRPOINTER):
    referent = (("Data", DOC_INFO_1),)


class DOC_INFO_UNION(NDRUNION):
    commonHdr = (("tag", ULONG),)
    union = {1: ("pDocInfo1", PDOC_INFO_1)}


class DOC_INFO_CONTAINER(NDRSTRUCT):
    structure = (("Level", DWORD), ("DocInfo", DOC_INFO_UNION))


class RpcStartDocPrinter(NDRCALL):
    opnum = 17
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("pDocInfoContainer", DOC_INFO_CONTAINER))


class RpcStartDocPrinterResponse(NDRCALL):
    structure = (("pJobId", DWORD), ("ErrorCode", ULONG))


class BYTE_ARRAY(NDRUniConformantArray):
    item = "c"


class RpcWritePrinter(NDRCALL):
    opnum = 19
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("pBuf", BYTE_ARRAY), ("cbBuf", DWORD))


class RpcWritePrinterResponse(NDRCALL):
    structure = (("pcWritten", DWORD), ("ErrorCode", ULONG))


class RpcEndDocPrinter(NDRCALL):
    opnum = 23
    structure = (("hPrinter", rprn.PRINTER_HANDLE),)


class RpcEndDocPrinterResponse(NDRCALL):
    structure = (("ErrorCode", ULONG),)


class RpcSetJob(NDRCALL):
    opnum = 2
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("JobId", DWORD), ("pJobContainer", ULONG),
                 ("Command", DWORD))


class RpcSetJobResponse(NDRCALL):
    structure = (("ErrorCode", ULONG),)


class RpcGetPrinterData(NDRCALL):
    opnum = 26
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("pValueName", WSTR), ("nSize", DWORD))


class RpcGetPrinterDataResponse(NDRCALL):
    structure = (("pType", DWORD), ("pData", BYTE_ARRAY), ("pcbNeeded", DWORD), ("ErrorCode", ULONG))


DIALECT = None


class SECURITY_CONTAINER(NDRSTRUCT):
    structure = (("cbBuf", DWORD), ("pSecurity", rprn.PBYTE_ARRAY))


class PRINTER_CONTAINER_0(NDRSTRUCT):
    structure = (("Level", DWORD), ("tag", DWORD), ("pointer", ULONG))


class RpcSetPrinter(NDRCALL):
    opnum = 7
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("pPrinterContainer", PRINTER_CONTAINER_0),
                 ("pDevModeContainer", rprn.DEVMODE_CONTAINER), ("pSecurityContainer", SECURITY_CONTAINER),
                 ("Command", DWORD))


class RpcSetPrinterResponse(NDRCALL):
    structure = (("ErrorCode", ULONG),)


class RpcGetPrinter(NDRCALL):
    opnum = 8
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("Level", DWORD), ("pPrinter", rprn.PBYTE_ARRAY),
                 ("cbBuf", DWORD))


class RpcGetPrinterResponse(NDRCALL):
    structure = (("pPrinter", rprn.PBYTE_ARRAY), ("pcbNeeded", DWORD), ("ErrorCode", ULONG))


class RpcEnumJobs(NDRCALL):
    opnum = 4
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("FirstJob", DWORD), ("NoJobs", DWORD), ("Level", DWORD),
                 ("pJob", rprn.PBYTE_ARRAY), ("cbBuf", DWORD))


class RpcEnumJobsResponse(NDRCALL):
    structure = (("pJob", rprn.PBYTE_ARRAY), ("pcbNeeded", DWORD), ("pcReturned", DWORD), ("ErrorCode", ULONG))


class RpcGetJob(NDRCALL):
    opnum = 3
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("JobId", DWORD), ("Level", DWORD),
                 ("pJob", rprn.PBYTE_ARRAY), ("cbBuf", DWORD))


class RpcGetJobResponse(NDRCALL):
    structure = (("pJob", rprn.PBYTE_ARRAY), ("pcbNeeded", DWORD), ("ErrorCode", ULONG))


class RpcEnumForms(NDRCALL):
    opnum = 34
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("Level", DWORD), ("pForm", rprn.PBYTE_ARRAY),
                 ("cbBuf", DWORD))


class RpcEnumFormsResponse(NDRCALL):
    structure = (("pForm", rprn.PBYTE_ARRAY), ("pcbNeeded", DWORD), ("pcReturned", DWORD), ("ErrorCode", ULONG))


class RpcGetForm(NDRCALL):
    opnum = 32
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("pFormName", WSTR), ("Level", DWORD),
                 ("pForm", rprn.PBYTE_ARRAY), ("cbBuf", DWORD))


class RpcGetFormResponse(NDRCALL):
    structure = (("pForm", rprn.PBYTE_ARRAY), ("pcbNeeded", DWORD), ("ErrorCode", ULONG))


class RpcGetPrinterDriver2(NDRCALL):
    opnum = 53
    structure = (("hPrinter", rprn.PRINTER_HANDLE), ("pEnvironment", LPWSTR), ("Level", DWORD),
                 ("pDriver", rprn.PBYTE_ARRAY), ("cbBuf", DWORD), ("dwClientMajorVersion", DWORD),
                 ("dwClientMinorVersion", DWORD))


class RpcGetPrinterDriver2Response(NDRCALL):
    structure = (("pDriver", rprn.PBYTE_ARRAY), ("pcbNeeded", DWORD), ("pdwServerMaxVersion", DWORD),
                 ("pdwServerMinVersion", DWORD), ("ErrorCode", ULONG))


def twice(dce, request, buffer_field):
    """Asked with no buffer, then with the size the answer needed."""
    request[buffer_field] = NULL
    request["cbBuf"] = 0
    first, error = call(dce, request)
    if error != 122:
        return first, error, None
    request[buffer_field] = b"\x00" * first["pcbNeeded"]
    request["cbBuf"] = first["pcbNeeded"]
    answer, error = call(dce, request)
    return answer, error, first["pcbNeeded"]


def connect(user, password):
    t = transport.DCERPCTransportFactory(r"ncacn_np:127.0.0.1[\pipe\spoolss]")
    t.set_credentials(user, password)
    if DIALECT:
        t.preferred_dialect(DIALECT)
    dce = t.get_dce_rpc()
    dce.connect()
    dce.bind(rprn.MSRPC_UUID_RPRN)
    return dce


def call(dce, request):
    """The answer and its error code, faults and failures included."""
    try:
        answer = dce.request(request, checkError=False)
    except DCERPCException as e:
        code = e.get_error_code()
        return None, code if code is not None else str(e)
    return answer, answer["ErrorCode"]


def client_info(user):
    c = rprn.SPLCLIENT_CONTAINER()
    c["Level"] = 1
    c["ClientInfo"]["tag"] = 1
    info = c["ClientInfo"]["pClientInfo1"]
    info["dwSize"] = 28
    info["pMachineName"] = "client\x00"
    info["pUserName"] = user + "\x00"
    info["dwBuildNum"] = 7601
    info["dwMajorVersion"] = 6
    info["dwMinorVersion"] = 1
    info["wProcessorArchitecture"] = 9
    return c


def open_printer(dce, name="\\\\127.0.0.1\\Laser"):
    return rprn.hRpcOpenPrinterEx(dce, name, pClientInfo=client_info("owner"))["pHandle"]


def check(what, got, wanted):
    if got != wanted:
        print("FAIL %s: got %r, wanted %r" % (what, got, wanted))
        sys.exit(1)
    print("ok %s" % what)


def data_value(dce, handle, name, offered):
    r = RpcGetPrinterData()
    r["hPrinter"] = handle
    r["pValueName"] = name + "\x00"
    r["nSize"] = offered
    return call(dce, r)


def main():
    global DIALECT
    output, step = sys.argv[1], sys.argv[2]
    if len(sys.argv) > 3 and sys.argv[3] == "NT1":
        from impacket.smbconnection import SMB_DIALECT
        DIALECT = SMB_DIALECT
    elif len(sys.argv) > 3 and sys.argv[3] == "SMB2_10":
        from impacket.smb3structs import SMB2_DIALECT_21
        DIALECT = SMB2_DIALECT_21
    if step == "probe":
        # 77: the server does not carry the spooler pipe in this build.
        try:
            connect("owner", "Secret1")
        except Exception as e:
            print("no spooler pipe over SMB here: %s" % e)
            sys.exit(77)
        print("ok the spooler pipe binds")
        return
    owner = connect("owner", "Secret1")
    if step == "document":
        h = open_printer(owner)
        r = RpcStartDocPrinter()
        r["hPrinter"] = h
        r["pDocInfoContainer"]["Level"] = 1
        r["pDocInfoContainer"]["DocInfo"]["tag"] = 1
        r["pDocInfoContainer"]["DocInfo"]["pDocInfo1"]["pDocName"] = "impacket document\x00"
        r["pDocInfoContainer"]["DocInfo"]["pDocInfo1"]["pOutputFile"] = NULL
        r["pDocInfoContainer"]["DocInfo"]["pDocInfo1"]["pDatatype"] = "RAW\x00"
        answer, error = call(owner, r)
        check("StartDocPrinter", error, 0)
        job = answer["pJobId"]

        def set_job(command):
            s = RpcSetJob()
            s["hPrinter"] = h
            s["JobId"] = job
            s["pJobContainer"] = 0
            s["Command"] = command
            return call(owner, s)[1]

        check("SetJob pause", set_job(1), 0)
        check("SetJob resume", set_job(2), 0)
        data = open(output + ".src", "rb").read()
        written = 0
        for at in range(0, len(data), 4096):
            w = RpcWritePrinter()
            w["hPrinter"] = h
            w["pBuf"] = list(data[at:at + 4096])
            w["cbBuf"] = len(data[at:at + 4096])
            answer, error = call(owner, w)
            if error:
                check("WritePrinter at %d" % at, error, 0)
            written += answer["pcWritten"]
        check("bytes written", written, len(data))
        e = RpcEndDocPrinter()
        e["hPrinter"] = h
        check("EndDocPrinter", call(owner, e)[1], 0)
        check("SetJob on a job that has ended", set_job(3), 0x1C000021)
        rprn.hRpcClosePrinter(owner, h)
    elif step == "handles":
        handles = [open_printer(owner) for _ in range(50)]
        try:
            open_printer(owner)
            check("the 51st handle", 0, 0xC000009A)
        except DCERPCException as ex:
            check("the 51st handle", ex.get_error_code(), 0xC000009A)
        rprn.hRpcClosePrinter(owner, handles.pop())
        handles.append(open_printer(owner))
        print("ok room again after a close")
        for handle in handles[1:]:
            rprn.hRpcClosePrinter(owner, handle)
        plain = connect("plain", "Secret2")
        e = RpcEndDocPrinter()
        e["hPrinter"] = handles[0]
        check("another user's handle", call(plain, e)[1], 0x1C00001A)
    elif step == "enum":
        got = rprn.hRpcEnumPrinters(owner, rprn.PRINTER_ENUM_LOCAL, NULL, 1)
        check("printers the owner sees", got["pcReturned"], 1)
        plain = connect("plain", "Secret2")
        got = rprn.hRpcEnumPrinters(plain, rprn.PRINTER_ENUM_LOCAL, NULL, 1)
        check("printers a plain user sees", got["pcReturned"], 0)
    elif step == "information":
        h = open_printer(owner)
        for level in range(6):
            r = RpcGetPrinter()
            r["hPrinter"] = h
            r["Level"] = level
            answer, error, needed = twice(owner, r, "pPrinter")
            check("GetPrinter level %d" % level, (error, needed is not None), (0, True))
        r = RpcGetPrinter()
        r["hPrinter"] = h
        r["Level"] = 6
        check("GetPrinter level 6", twice(owner, r, "pPrinter")[1], 124)
        s = RpcSetPrinter()
        s["hPrinter"] = h
        s["pPrinterContainer"]["Level"] = 0
        s["pPrinterContainer"]["tag"] = 0
        s["pPrinterContainer"]["pointer"] = 0
        s["pDevModeContainer"]["cbBuf"] = 0
        s["pDevModeContainer"]["pDevMode"] = NULL
        s["pSecurityContainer"]["cbBuf"] = 0
        s["pSecurityContainer"]["pSecurity"] = NULL
        answer, error = data_value(owner, h, "ChangeId", 4)
        check("ChangeId before any SetPrinter", b"".join(answer["pData"]), (1).to_bytes(4, "little"))
        s["Command"] = 1
        check("SetPrinter pause", call(owner, s)[1], 0)
        answer, error = data_value(owner, h, "ChangeId", 4)
        check("ChangeId after a SetPrinter", b"".join(answer["pData"]), (2).to_bytes(4, "little"))
        s["Command"] = 2
        check("SetPrinter resume", call(owner, s)[1], 0)
        jobs = []
        handles = [h, open_printer(owner)]
        for handle in handles:
            d = RpcStartDocPrinter()
            d["hPrinter"] = handle
            d["pDocInfoContainer"]["Level"] = 1
            d["pDocInfoContainer"]["DocInfo"]["tag"] = 1
            d["pDocInfoContainer"]["DocInfo"]["pDocInfo1"]["pDocName"] = "queued\x00"
            d["pDocInfoContainer"]["DocInfo"]["pDocInfo1"]["pOutputFile"] = NULL
            d["pDocInfoContainer"]["DocInfo"]["pDocInfo1"]["pDatatype"] = NULL
            answer, error = call(owner, d)
            check("StartDocPrinter of a queued job", error, 0)
            jobs.append(answer["pJobId"])
        e = RpcEnumJobs()
        e["hPrinter"] = h
        e["FirstJob"] = 0
        e["NoJobs"] = 10
        e["Level"] = 1
        answer, error, needed = twice(owner, e, "pJob")
        check("EnumJobs: two queued", (error, answer["pcReturned"]), (0, 2))
        g = RpcGetJob()
        g["hPrinter"] = h
        g["JobId"] = jobs[1]
        g["Level"] = 3
        answer, error, needed = twice(owner, g, "pJob")
        job3 = b"".join(answer["pJob"])
        check("GetJob level 3 of the last job", (error, job3[4:8]), (0, b"\xff\xff\xff\xff"))
        for handle in handles:
            e2 = RpcEndDocPrinter()
            e2["hPrinter"] = handle
            call(owner, e2)
        f = RpcEnumForms()
        f["hPrinter"] = h
        f["Level"] = 1
        answer, error, needed = twice(owner, f, "pForm")
        check("EnumForms", (error, answer["pcReturned"], needed), (0, 2, 1000))
        gf = RpcGetForm()
        gf["hPrinter"] = h
        gf["pFormName"] = "A4\x00"
        gf["Level"] = 1
        answer, error, needed = twice(owner, gf, "pForm")
        form = b"".join(answer["pForm"])
        check("GetForm A4", (error, int.from_bytes(form[8:12], "little"), int.from_bytes(form[12:16], "little")),
              (0, 210000, 297000))
        dr = RpcGetPrinterDriver2()
        dr["hPrinter"] = h
        dr["pEnvironment"] = "Windows NT x86\x00"
        dr["Level"] = 3
        dr["pDriver"] = NULL
        dr["cbBuf"] = 0
        dr["dwClientMajorVersion"] = 3
        dr["dwClientMinorVersion"] = 0
        answer, error = call(owner, dr)
        check("GetPrinterDriver2", (error, answer["pdwServerMaxVersion"], answer["pdwServerMinVersion"]),
              (1797, 2, 0))
        for handle in handles:
            rprn.hRpcClosePrinter(owner, handle)
    elif step == "changeid":
        # The printer's ChangeId as it is now, for the scenario to compare.
        h = open_printer(owner)
        answer, error = data_value(owner, h, "ChangeId", 4)
        check("ChangeId read", error, 0)
        print("changeid %d" % int.from_bytes(b"".join(answer["pData"]), "little"))
        rprn.hRpcClosePrinter(owner, h)
    elif step == "offered":
        h = open_printer(owner)
        answer, error = data_value(owner, h, "ChangeId", 0)
        check("offered 0", (error, answer["pcbNeeded"]), (234, 4))
        answer, error = data_value(owner, h, "ChangeId", 2)
        check("offered short", (error, answer["pcbNeeded"], len(answer["pData"])), (234, 4, 2))
        answer, error = data_value(owner, h, "ChangeId", 0x7FFFFFF0)
        check("offered huge", error, 8)
        # An answer longer than a fragment and than one read of the pipe
        # comes in pieces and whole.
        f = RpcEnumForms()
        f["hPrinter"] = h
        f["Level"] = 1
        f["pForm"] = b"\x00" * 20000
        f["cbBuf"] = 20000
        answer, error = call(owner, f)
        check("EnumForms offered 20000", (error, answer and answer["pcReturned"], answer and len(answer["pForm"])),
              (0, 2, 20000))
        rprn.hRpcClosePrinter(owner, h)


main()
