#!/usr/bin/env python3
"""A loopback NTP server whose clock is off by a fixed amount: the liar of bench/time_vote.sh.

    bench/ntp_liar.py PORT [OFFSET_SECONDS]    (default offset 3600: an hour ahead)

Answers every client request on 127.0.0.1:PORT as a synchronised stratum-1 server ("LOCL") would,
echoing the request's transmit timestamp and stating this machine's clock plus the offset.
"""
import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800  # seconds from 1900 to 1970


def timestamp(seconds):
    whole = int(seconds)
    return struct.pack("!II", (whole + NTP_EPOCH) & 0xFFFFFFFF, int((seconds - whole) * 2**32) & 0xFFFFFFFF)


def main():
    port = int(sys.argv[1])
    offset = float(sys.argv[2]) if len(sys.argv) > 2 else 3600.0
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", port))
    while True:
        request, sender = server.recvfrom(512)
        received = time.time() + offset
        if len(request) < 48 or request[0] & 0x07 != 3:
            continue
        header = bytes([0x24, 1, 0, 0xE3]) + bytes(8) + b"LOCL" + timestamp(received)
        reply = header + request[40:48] + timestamp(received) + timestamp(time.time() + offset)
        server.sendto(reply, sender)


if __name__ == "__main__":
    main()
