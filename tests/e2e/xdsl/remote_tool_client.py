"""A remote engineering tool's side of the TCP 5001 protocol, written from
the frame tables: length-prefixed requests, raw replies, 128-byte file frames."""
import socket
import struct
import time

SELECTOR = {"x": 0x40, "y": 0x80, "p": 0x00}


class Closed(Exception):
    pass


class Tool:
    def __init__(self, host="127.0.0.1", port=5001, timeout=5.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def close(self):
        self.sock.close()

    # -- raw stream ---------------------------------------------------------
    def send(self, data):
        self.sock.sendall(data)

    def recv(self, n, timeout=5.0):
        """Exactly n bytes; Closed at the end of the stream, None on time-out."""
        self.sock.settimeout(timeout)
        out = b""
        try:
            while len(out) < n:
                chunk = self.sock.recv(n - len(out))
                if not chunk:
                    raise Closed(out)
                out += chunk
        except socket.timeout:
            return None
        except ConnectionResetError:
            raise Closed(out)
        return out

    def silent(self, wait=0.3):
        """True when nothing arrives within wait seconds."""
        return self.recv(1, timeout=wait) is None

    @staticmethod
    def frame(payload):
        return struct.pack(">H", len(payload)) + payload

    def request(self, payload):
        self.send(self.frame(payload))

    # -- requests -----------------------------------------------------------
    def read_word(self, port, addr, mem="x", selector=None):
        sel = SELECTOR[mem] if selector is None else selector
        self.request(bytes([1, port]) + addr.to_bytes(3, "big") + bytes([sel]))
        return self.recv(4)

    def write_word(self, port, addr, value, mem="x", selector=None):
        sel = SELECTOR[mem] if selector is None else selector
        self.request(bytes([2, port]) + addr.to_bytes(3, "big") + value.to_bytes(3, "big") + bytes([sel]))
        return self.recv(2)

    def read_mib(self, port, oid):
        """The whole reply: 4 bytes on failure, 6N + 4 on success."""
        self.request(bytes([3, port]) + oid.encode() + b"\0")
        head = self.recv(2)
        return head + self.recv(struct.unpack(">H", head)[0])

    def write_mib(self, port, oid, value):
        self.request(bytes([4, port]) + oid.encode() + b"\0" + value.encode() + b"\0")
        return self.recv(2)

    def end(self):
        self.request(bytes([5, 0]))
        return self.recv(2)

    def command(self, line):
        self.request(bytes([6]) + line.encode() + b"\0")
        return self.recv(2)

    def check_header(self, port):
        self.request(bytes([9, port]))
        return self.recv(2)

    def get_file(self, path, ack=b"\x00\xff"):
        """(first reply, frames, data, final reply)."""
        self.request(bytes([7]) + path.encode() + b"\0")
        first = self.recv(2)
        if first != b"\x00\xff":
            return first, [], b"", None
        frames, data = [], b""
        while True:
            f = self.recv(128)
            frames.append(f)
            data += f[1:1 + f[0]]
            self.send(ack)
            if ack != b"\x00\xff" or f[0] < 127:
                break
        return first, frames, data, self.recv(2)

    def put_file(self, path, data, trailer=b"\x00\x00", counts=None):
        """Acknowledgements of each frame; counts override the frame counts."""
        self.request(bytes([8]) + path.encode() + b"\0")
        chunks = [data[i:i + 127] for i in range(0, len(data), 127)]
        if len(data) % 127 == 0:
            chunks.append(b"")
        acks = []
        for i, c in enumerate(chunks):
            count = len(c) if counts is None else counts[i]
            self.send(bytes([count]) + c.ljust(127, b"\0"))
            if count > 127:
                break
            acks.append(self.recv(2))
        self.send(trailer)
        return acks


def connect(port=5001, timeout=5.0):
    """A tool connected once the service listens."""
    end = time.monotonic() + timeout
    while True:
        try:
            return Tool(port=port)
        except OSError:
            if time.monotonic() > end:
                raise
            time.sleep(0.05)
