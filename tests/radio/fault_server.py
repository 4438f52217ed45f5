#!/usr/bin/python3
"""A loopback HTTP server that misbehaves on purpose, one way per path.

Usage: fault_server.py MP3_FILE [--tls CERT KEY]. Prints the port it listens
on (127.0.0.1), then serves until killed; with --tls it speaks https with that
certificate and key (PEM). Paths:
  /ok            the MP3 with a Content-Length, then closes
  /live          the MP3 looped forever, no length, paced at about 4x real time
  /icy?t=K       like /live with ICY metadata every 8192 bytes; titles by kind K:
                 max (a 255*16-byte block), latin1, cp1252, badutf8, utf8, changing
  /404           404 Not Found
  /silent        accepts and never answers
  /headers-only  answers the headers, then sends nothing
  /stall         sends 64 KiB of audio, then nothing (connection kept open)
  /cut           sends 64 KiB of audio, then closes
  /garbage       audio/mpeg headers, then random bytes forever
  /to-file       302 to file:///etc/passwd
  /to-ftp        302 to ftp://127.0.0.1:1/x.mp3
  /loop          302 to itself, forever
  /list...?t=T&b=B  a playlist (any path starting /list), content type by T:
                 pls, m3u, text (default); body by B: pls (a dead entry, then a
                 relative /icy?t=utf8), m3u (a 404, then /icy?t=latin1), dead
                 (50 entries that never answer), local (the MP3 as file:// and
                 as a path, an ftp:// entry), nest (an m3u naming the pls one),
                 deep (an m3u naming nest), flaky (/flaky?id=list&drop=reset),
                 endless (entries forever), huge (entries, Content-Length 1 GB)
  /files/NAME    the file NAME from the MP3's folder (HLS playlists and segments)
  /hls/live.m3u8?id=K[&stall=1]  a live HLS playlist over the segments v0.ts,
                 v1.ts, ... of the MP3's folder (1 s each): three of them, one
                 more each second from the first request with id K; with
                 stall=1 it stops growing from 2 s to 8 s, then goes on
  /flaky?id=K&drop=D  like /icy with the title "Part N", N counting the connections
                 made with id K; the first one drops after 3 s (D=reset: a TCP
                 reset, D=close: closed, D=stall: nothing more sent), later ones
                 play on; without drop=, no connection drops
  /gone?id=K     like /flaky?drop=reset, but later connections get 503
"""
import os
import socket
import ssl
import struct
import sys
import threading
import time

MP3 = open(sys.argv[1], "rb").read()
METAINT = 8192


def titles(kind):
    if kind == "max":
        body = b"StreamTitle='" + b"M" * (255 * 16 - len(b"StreamTitle='';")) + b"';"
        return [body]
    text = {
        "latin1": "Caf\xe9 del Mar".encode("latin-1"),
        "cp1252": b"\x93Quoted\x94 \x80 price",
        "badutf8": b"Bad \xc3( seq \xff end",
        "utf8": "Fj\u00e4rran \u2013 \u65e5\u672c".encode("utf-8"),
    }.get(kind)
    if text is not None:
        return [b"StreamTitle='" + text + b"';StreamUrl='';"]
    return [b"StreamTitle='Song %d';" % i for i in range(1000)]


def meta_block(body):
    n = (len(body) + 15) // 16
    return bytes([n]) + body + b"\0" * (n * 16 - len(body))


CONNECTIONS = {}
CONNECTIONS_LOCK = threading.Lock()


def connection_number(key):
    with CONNECTIONS_LOCK:
        CONNECTIONS[key] = CONNECTIONS.get(key, 0) + 1
        return CONNECTIONS[key]


def send_stream(conn, kind=None, names=None, seconds=None):
    """Sends the looped MP3 (with ICY blocks when kind or names is given),
    forever or until `seconds` have passed."""
    head = AUDIO_HEAD
    if kind is not None or names is not None:
        head += b"icy-metaint: %d\r\nicy-name: Test \xe9 Radio\r\nicy-genre: Jazz\r\n" % METAINT
    conn.sendall(head + b"\r\n")
    pos = 0
    sent = 0
    block = 0
    if names is None and kind is not None:
        names = titles(kind)
    start = time.time()
    while seconds is None or time.time() - start < seconds:
        chunk = b""
        want = METAINT
        while len(chunk) < want:
            take = MP3[pos:pos + want - len(chunk)]
            chunk += take
            pos = (pos + len(take)) % len(MP3)
        if names is not None:
            body = names[min(block // 8, len(names) - 1)] if kind == "changing" else names[0]
            # Like real servers, send the title once and then empty blocks until it changes.
            if kind == "changing" and block % 8 != 0:
                body = b""
            chunk += meta_block(body) if body else b"\0"
        conn.sendall(chunk)
        block += 1
        sent += METAINT
        # Pace at about four times 128 kbit/s so a long test does not flood memory.
        ahead = sent / 64000.0 - (time.time() - start)
        if ahead > 0:
            time.sleep(ahead)


LIST_TYPES = {"pls": b"audio/x-scpls", "m3u": b"audio/x-mpegurl", "text": b"text/plain"}
# Where the redirecting paths point.
REDIRECTS = {"/to-file": b"file:///etc/passwd", "/to-ftp": b"ftp://127.0.0.1:1/x.mp3", "/loop": b"/loop"}
AUDIO_HEAD = b"HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n"


def send_whole(conn, kind, data):
    """A 200 answer with a Content-Length."""
    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: " + kind + b"\r\nContent-Length: %d\r\n\r\n" % len(data) + data)


def send_list(conn, kind, body):
    mp3 = os.path.abspath(sys.argv[1]).encode()
    bodies = {
        "pls": b"[playlist]\nNumberOfEntries=2\nFile1=http://127.0.0.1:1/dead.mp3\nFile2=icy?t=utf8\n",
        "m3u": b"#EXTM3U\n#EXTINF:-1,Dead\n/404\n#EXTINF:-1,Live\n/icy?t=latin1\n",
        "dead": b"#EXTM3U\n" + b"/silent\n" * 50,
        "local": b"#EXTM3U\nfile://" + mp3 + b"\n" + mp3 + b"\nftp://127.0.0.1:1/x.mp3\n",
        "nest": b"#EXTM3U\nlist?t=pls&b=pls\n",
        "deep": b"#EXTM3U\nlist?t=m3u&b=nest\n",
        "flaky": b"[playlist]\nFile1=/flaky?id=list&drop=reset\n",
    }
    head = b"HTTP/1.0 200 OK\r\nContent-Type: " + LIST_TYPES[kind] + b"\r\n"
    if body in ("endless", "huge"):
        if body == "huge":
            head += b"Content-Length: %d\r\n" % (1 << 30)
        conn.sendall(head + b"\r\n#EXTM3U\n")
        while True:
            conn.sendall(b"/silent\n" * 4096)
    send_whole(conn, LIST_TYPES[kind], bodies[body])


LIVE_STARTS = {}


def send_file(conn, name):
    path = os.path.join(os.path.dirname(os.path.abspath(sys.argv[1])), os.path.basename(name))
    try:
        data = open(path, "rb").read()
    except OSError:
        conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
        return
    send_whole(conn, b"application/vnd.apple.mpegurl" if name.endswith(".m3u8") else b"video/mp2t", data)


def send_live_playlist(conn, args):
    with CONNECTIONS_LOCK:
        start = LIVE_STARTS.setdefault(args.get("id"), time.time())
    elapsed = time.time() - start
    if args.get("stall") == "1" and elapsed > 2:
        elapsed = 2 if elapsed < 8 else elapsed - 6
    folder = os.path.dirname(os.path.abspath(sys.argv[1]))
    count = len([f for f in os.listdir(folder) if f.startswith("v") and f.endswith(".ts")])
    newest = min(int(elapsed) + 2, count - 1)
    first = max(newest - 2, 0)
    body = b"#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:%d\n" % first
    for i in range(first, newest + 1):
        body += b"#EXTINF:1.0,\n/files/v%d.ts\n" % i
    send_whole(conn, b"application/vnd.apple.mpegurl", body)


def handle(conn, tls):
    try:
        if tls is not None:
            conn.settimeout(5)
            conn = tls.wrap_socket(conn, server_side=True)
            conn.settimeout(None)
        req = b""
        while b"\r\n\r\n" not in req:
            data = conn.recv(4096)
            if not data:
                return
            req += data
        path = req.split(b" ")[1].decode("latin-1")
        route, _, query = path.partition("?")
        args = dict(p.partition("=")[::2] for p in query.split("&"))
        if route == "/ok":
            send_whole(conn, b"audio/mpeg", MP3)
        elif route == "/live":
            send_stream(conn)
        elif route == "/icy":
            send_stream(conn, query.partition("=")[2] or "changing")
        elif route in ("/flaky", "/gone"):
            n = connection_number((route, args.get("id")))
            if n > 1 and route == "/gone":
                conn.sendall(b"HTTP/1.0 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                return
            drops = n == 1 and (route == "/gone" or "drop" in args)
            send_stream(conn, names=[b"StreamTitle='Part %d';" % n], seconds=3.0 if drops else None)
            if args.get("drop") == "stall":
                time.sleep(3600)
            if args.get("drop") != "close":
                # Closing with a zero linger time resets the connection.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif route.startswith("/files/"):
            send_file(conn, route[len("/files/"):])
        elif route == "/hls/live.m3u8":
            send_live_playlist(conn, args)
        elif route.startswith("/list"):
            send_list(conn, args.get("t", "text"), args.get("b", "pls"))
        elif route == "/404":
            conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
        elif route == "/silent":
            time.sleep(3600)
        elif route in ("/headers-only", "/stall", "/cut", "/garbage"):
            conn.sendall(AUDIO_HEAD + b"\r\n" + (MP3[:65536] if route in ("/stall", "/cut") else b""))
            while route == "/garbage":
                conn.sendall(os.urandom(16384))
                time.sleep(0.05)
            if route in ("/headers-only", "/stall"):
                time.sleep(3600)
        elif route in REDIRECTS:
            conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: " + REDIRECTS[route] + b"\r\nContent-Length: 0\r\n\r\n")
        else:
            conn.sendall(b"HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def main():
    tls = None
    if len(sys.argv) > 4 and sys.argv[2] == "--tls":
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(sys.argv[3], sys.argv[4])
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(64)
    print(srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=handle, args=(conn, tls), daemon=True).start()


if __name__ == "__main__":
    main()
