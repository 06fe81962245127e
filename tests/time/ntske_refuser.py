#!/usr/bin/env python3
"""A TLS server on 127.0.0.1 that an NTS key exchange must refuse: `tls12` speaks TLS 1.2 at most,
`alpn` agrees to "http/1.1" only (so no protocol is agreed), `tls13` agrees to TLS 1.3 and ntske/1
(its certificate is then the test's point) but answers nothing. Usage: ntske_refuser.py MODE CERT KEY.
Prints its port on a line of its own once it listens; serves until standard input closes."""
import socket
import ssl
import sys
import threading


def main():
    mode, cert, key = sys.argv[1:4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    if mode == "tls12":
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.set_alpn_protocols(["ntske/1"])
    elif mode == "tls13":
        context.minimum_version = ssl.TLSVersion.TLSv1_3
        context.set_alpn_protocols(["ntske/1"])
    elif mode == "alpn":
        context.minimum_version = ssl.TLSVersion.TLSv1_3
        context.set_alpn_protocols(["http/1.1"])
    else:
        sys.exit("unknown mode " + mode)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)

    def serve():
        while True:
            connection, _ = listener.accept()
            try:
                with context.wrap_socket(connection, server_side=True) as tls:
                    tls.settimeout(10)
                    tls.recv(1024)  # the request; nothing is answered
            except (OSError, ssl.SSLError):
                pass
            finally:
                connection.close()

    threading.Thread(target=serve, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
