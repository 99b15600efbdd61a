"""An RFC 3161 time-stamp server on 127.0.0.1 for the release check, answering through
`openssl ts -reply`:

    python3 tsa_server.py CONFIG PORT_FILE

CONFIG is an openssl configuration with a [tsa] section. The server takes a free port, writes
it to PORT_FILE, answers every POST with a time-stamp reply and stops after 5 minutes.
"""
import http.server
import subprocess
import sys
import tempfile
import threading


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.NamedTemporaryFile() as request, tempfile.NamedTemporaryFile() as reply:
            request.write(query)
            request.flush()
            result = subprocess.run(
                ["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile", request.name,
                 "-out", reply.name], capture_output=True)
            body = reply.read()
        if result.returncode != 0 or not body:
            self.send_error(500, result.stderr.decode(errors="replace")[:200])
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        sys.stderr.write("tsa: " + format % args + "\n")


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
with open(sys.argv[2], "w") as port_file:
    port_file.write(str(server.server_address[1]))
threading.Timer(300, server.shutdown).start()
server.serve_forever()
