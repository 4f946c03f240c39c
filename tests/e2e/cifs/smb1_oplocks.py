#!/usr/bin/python3
"""Batch oplocks across the two protocols on the running vxcs: an SMB1
holder gets the LOCKING_ANDX break when an SMB2 client opens its file, and
its acknowledgment completes that open; an SMB2 holder gets its break when
an SMB1 client opens, and the SMB1 open is answered after the
acknowledgment.

usage: smb1_oplocks.py SHARE_DIR
"""
import os
import socket
import struct
import sys
import threading

from impacket import smb
from impacket.smb3structs import SMB2_DIALECT_21

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smb2_clients import PASSWORD, USER, check, failures  # noqa: E402
from smb2_files import BREAK, CREATE, PENDING, Client, command, create_body, fid_of, status  # noqa: E402

share_dir = sys.argv[1]
LOCKING_ANDX, OPLOCK_RELEASE = 0x24, 0x02


def smb1_client():
    c = smb.SMB("*SMBSERVER", "127.0.0.1", sess_port=445, timeout=10)
    c.login(USER, PASSWORD)
    return c, c.connect_tree("\\\\*SMBSERVER\\Share")


def smb1_quiet(c, wait=0.5):
    """True when the server sends the SMB1 client nothing within wait."""
    s = c.get_socket()
    s.settimeout(wait)
    try:
        return not s.recv(1, socket.MSG_PEEK)
    except socket.timeout:
        return True
    finally:
        s.settimeout(None)


def locking_words(packet):
    """AndX, reserved, offset, FID, TypeOfLock, NewOplockLevel, Timeout,
    unlocks, locks of a LOCKING_ANDX."""
    return struct.unpack_from("<BBHHBBIHH", smb.SMBCommand(packet["Data"][0])["Parameters"])


def smb1_holder():
    name = "held_by_smb1"
    open(os.path.join(share_dir, name), "w").close()
    a, tid = smb1_client()
    fid = a.nt_create_andx(tid, name)  # impacket asks for a batch oplock
    b = Client(SMB2_DIALECT_21)
    b.request(CREATE, create_body(name))
    interim = b.message()
    check("SMB2 open waits for the SMB1 holder", status(interim) == PENDING, f"{status(interim)}")
    brk = a.recvSMB()
    check("SMB1 holder gets a LOCKING_ANDX break", brk["Command"] == LOCKING_ANDX, f'{brk["Command"]:#x}')
    words = locking_words(brk)
    check("for its FID, an oplock release, no ranges", words[3] == fid and words[4] & OPLOCK_RELEASE and
          words[7:] == (0, 0), f"{words}")
    check("SMB2 open still waits", b.message(0.5) is None)

    ack = smb.NewSMBPacket()
    ack["Tid"] = tid
    cmd = smb.SMBCommand(smb.SMB.SMB_COM_LOCKING_ANDX)
    cmd["Parameters"] = struct.pack("<BBHHBBIHH", 0xFF, 0, 0, fid, OPLOCK_RELEASE, 0, 0, 0, 0)
    ack.addCommand(cmd)
    a.sendSMB(ack)
    late = b.message()
    check("the acknowledgment completes the SMB2 open", status(late) == 0 and command(late) == CREATE and
          late[32:40] == interim[32:40] and late[66] == 0, f"{status(late)}")
    # The server answers the acknowledgment itself before the waiting open.
    answer = a.recvSMB()
    check("the acknowledgment is answered", answer["Command"] == LOCKING_ANDX and
          struct.unpack_from("<I", answer.getData(), 5)[0] == 0, f'{answer["Command"]:#x}')
    check("and nothing more comes", smb1_quiet(a))
    b.close(fid_of(late))
    a.close(tid, fid)
    a.logoff()


def smb2_holder():
    name = "held_by_smb2"
    open(os.path.join(share_dir, name), "w").close()
    b = Client(SMB2_DIALECT_21)
    held = b.create(name, oplock=9)
    check("SMB2 holder granted batch", status(held) == 0 and held[66] == 9, f"{status(held)}")
    a, tid = smb1_client()
    opened = {}
    opener = threading.Thread(target=lambda: opened.setdefault("fid", a.nt_create_andx(tid, name)))
    opener.start()
    brk = b.message()
    check("SMB2 holder gets the break", command(brk) == BREAK and brk[64 + 8:64 + 24] == fid_of(held))
    opener.join(0.5)
    check("SMB1 open waits for the acknowledgment", opener.is_alive())
    b.request(BREAK, struct.pack("<HB5s", 24, 0, b"\0" * 5) + fid_of(held))
    check("acknowledgment answered", status(b.message()) == 0)
    opener.join(10)
    check("the SMB1 open is answered after it", not opener.is_alive() and opened.get("fid", 0) >= 0x4001,
          f"{opened}")
    if "fid" in opened:
        a.close(tid, opened["fid"])
    b.close(fid_of(held))
    a.logoff()


smb1_holder()
smb2_holder()
sys.exit(1 if failures else 0)
