# Sourced by scripts that need a real web server: nginx on 127.0.0.1, unprivileged, from a
# folder of its own, over HTTP and HTTPS with a test certificate authority.
#
#   nginx_fixture_start [--name NAME] [--rate RATE] DIR ROOT
#                                  certificates (made once per DIR), config, start; sets
#                                  NGINX_HTTP_PORT      plain HTTP
#                                  NGINX_HTTPS_PORT     HTTPS, certificate for 127.0.0.1 and
#                                                       localhost, signed by DIR/ca.pem
#                                  NGINX_HTTPS2_PORT    the same on a second port (a second origin)
#                                  NGINX_UNTRUSTED_PORT HTTPS, signed by an authority nobody trusts
#                                  NGINX_WRONGNAME_PORT HTTPS, trusted authority, certificate for
#                                                       another host name
#                                  NGINX_NO_OBJECTS_PORT plain HTTP, 503 for anything under an
#                                                       objects/ folder (a host whose store is
#                                                       down), the rest served
#                                  NGINX_ACCESS_LOG     one line per request: port "request"
#                                                       status body-bytes seconds "Range header"
#                                                       (the last "-" when the request had none)
#                                  On the HTTP port, /limited/... serves ROOT/... at most
#                                  10 MiB/s per connection (a CDN's per-connection limit),
#                                  or what ?rate= says (nginx's sizes: 4m, 500k).
#                                  --name NAME starts another instance beside the first, with
#                                  its own DIR, ports, pid and log, so that one origin can go
#                                  down while the other serves: its variables are
#                                  NGINX_NAME_HTTP_PORT, ..., NGINX_NAME_ACCESS_LOG. It uses the
#                                  certificates of the first instance started, so one trusted
#                                  authority (NGINX_CA_PEM) serves every instance.
#                                  --rate RATE: every response of the instance goes at most
#                                  RATE per connection (a slow origin).
#   nginx_fixture_stop [NAME]      stops that instance (no NAME: every one) gracefully and
#                                  waits for it (also safe when not started)
#   nginx_fixture_kill [NAME]      stops it at once (TERM: connections cut mid-response, as
#                                  when a host goes down) and returns once it is gone; works
#                                  from a subshell too
#   wine_trust_ca PEM [MARKER]     trusts PEM as a root authority in $WINEPREFIX alone; with
#                                  MARKER, records there that it did
#   wine_trusts_ca PEM MARKER      true when MARKER records that PEM, as it is now, is trusted
#
# Every port serves ROOT. The caller arranges for nginx_fixture_stop to run on exit.

# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# Per instance, by its variables' prefix (NGINX, NGINX_NAME): the server's pid and folder.
declare -gA _nginx_pids=() _nginx_dirs=()
_nginx_certs=  # the first instance's certificates, which every later one uses

_nginx_fail() { echo "nginx_fixture: $*" >&2; return 1; }

# A signed certificate for `names` (subjectAltName list) in DIR/NAME.{pem,key}.
_nginx_cert() {
    local dir=$1 name=$2 ca=$3 subject=$4 names=$5
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$subject" \
        -keyout "$dir/$name.key" -out "$dir/$name.csr" 2>/dev/null || return 1
    printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
        "$names" >"$dir/$name.ext"
    openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$ca.pem" -CAkey "$dir/$ca.key" \
        -CAcreateserial -days 3650 -sha256 -extfile "$dir/$name.ext" -out "$dir/$name.pem" 2>/dev/null
}

_nginx_ca() {
    local dir=$1 name=$2 subject=$3
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 -subj "/CN=$subject" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$dir/$name.key" -out "$dir/$name.pem" 2>/dev/null
}

# Wine ignores IP entries in subjectAltName: the address is listed as a DNS name too.
_nginx_certificates() {
    local dir=$1
    [ -f "$dir/certs.done" ] && return 0
    mkdir -p "$dir"
    _nginx_ca "$dir" ca "Orvane Test Authority" &&
        _nginx_ca "$dir" rogue-ca "Untrusted Test Authority" &&
        _nginx_cert "$dir" server ca 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1,DNS:localhost" &&
        _nginx_cert "$dir" untrusted rogue-ca 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1,DNS:localhost" &&
        _nginx_cert "$dir" wrongname ca updates.other.example "DNS:updates.other.example" ||
        { _nginx_fail "could not make the test certificates in $dir"; return 1; }
    touch "$dir/certs.done"
}

# Six free TCP ports on 127.0.0.1.
_nginx_free_ports() {
    python3 - <<'PY'
import socket
held = []
for _ in range(6):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
PY
}

nginx_fixture_start() {
    local name='' rate=''
    while [ $# -gt 2 ]; do
        case $1 in
            --name) name=$2; shift 2 ;;
            --rate) rate=$2; shift 2 ;;
            *) _nginx_fail "nginx_fixture_start: unknown option $1"; return 1 ;;
        esac
    done
    local prefix=NGINX${name:+_$name}
    [ -z "${_nginx_pids[$prefix]:-}" ] || { _nginx_fail "$prefix is already running"; return 1; }
    local dir root
    dir=$(mkdir -p "$1" && cd "$1" && pwd) || return 1
    root=$(cd "$2" && pwd) || { _nginx_fail "no folder $2 to serve"; return 1; }
    command -v nginx >/dev/null || { _nginx_fail "nginx is not installed (make deps)"; return 1; }
    local certs=${_nginx_certs:-$dir/certs}
    _nginx_certificates "$certs" || return 1
    _nginx_certs=$certs
    mkdir -p "$dir/logs" "$dir/temp"
    : >"$dir/logs/access.log"
    local http https https2 untrusted wrongname no_objects
    read -r http https https2 untrusted wrongname no_objects < <(_nginx_free_ports)
    export "${prefix}_HTTP_PORT=$http" "${prefix}_HTTPS_PORT=$https" "${prefix}_HTTPS2_PORT=$https2" \
        "${prefix}_UNTRUSTED_PORT=$untrusted" "${prefix}_WRONGNAME_PORT=$wrongname" \
        "${prefix}_NO_OBJECTS_PORT=$no_objects" "${prefix}_ACCESS_LOG=$dir/logs/access.log"

    local user=
    # As root, workers would drop to nobody, who cannot read a private folder.
    [ "$(id -u)" -eq 0 ] && user="user root root;"
    local tls="ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache shared:tls:1m;"
    # The manifest's patches (patches/<sha256>) have no extension: plain text, compressed.
    local patches='location ~ "/patches/[0-9a-f]{64}$" { default_type text/plain; }'
    cat >"$dir/nginx.conf" <<CONF
$user
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log warn;
events { worker_connections 256; }
http {
    types { application/json json; }
    default_type application/octet-stream;
    log_format fixture '\$server_port "\$request" \$status \$body_bytes_sent \$request_time "\$http_range"';
    access_log $dir/logs/access.log fixture;
    map \$arg_rate \$limited_rate { default 10m; "~^[0-9]+[km]?\$" \$arg_rate; }
    ${rate:+limit_rate $rate;}
    client_body_temp_path $dir/temp/body;
    proxy_temp_path $dir/temp/proxy;
    fastcgi_temp_path $dir/temp/fastcgi;
    uwsgi_temp_path $dir/temp/uwsgi;
    scgi_temp_path $dir/temp/scgi;
    sendfile on;
    keepalive_timeout 30;
    # The manifest and its patches go compressed to a client that asks; the archive and the
    # objects (application/octet-stream) never are, so byte ranges stay ranges of the file.
    gzip on;
    gzip_types application/json text/plain;
    gzip_min_length 64;
    gzip_comp_level 6;
    gzip_vary on;
    root $root;
    server {
        listen 127.0.0.1:$http;
        $patches
        location /limited/ { alias $root/; limit_rate \$limited_rate; }
    }
    server {
        listen 127.0.0.1:$https ssl;
        ssl_certificate $certs/server.pem; ssl_certificate_key $certs/server.key; $tls
        $patches
    }
    server {
        listen 127.0.0.1:$https2 ssl;
        ssl_certificate $certs/server.pem; ssl_certificate_key $certs/server.key; $tls
        $patches
    }
    server {
        listen 127.0.0.1:$untrusted ssl;
        ssl_certificate $certs/untrusted.pem; ssl_certificate_key $certs/untrusted.key; $tls
        $patches
    }
    server {
        listen 127.0.0.1:$wrongname ssl;
        ssl_certificate $certs/wrongname.pem; ssl_certificate_key $certs/wrongname.key; $tls
        $patches
    }
    server {
        listen 127.0.0.1:$no_objects;
        $patches
        location ~ /objects/ { return 503; }
    }
}
CONF
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" -g 'daemon off;' \
        2>>"$dir/logs/error.log" &
    _nginx_pids[$prefix]=$!
    _nginx_dirs[$prefix]=$dir
    export NGINX_CA_PEM=$certs/ca.pem
    # Ready when it answers on its HTTP port.
    local i
    for i in $(seq 100); do
        if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', int(sys.argv[1])), 0.2)" \
            "$http" 2>/dev/null; then
            return 0
        fi
        kill -0 "${_nginx_pids[$prefix]}" 2>/dev/null || break
        sleep 0.05
    done
    _nginx_fail "nginx did not start; $dir/logs/error.log says: $(tail -3 "$dir/logs/error.log")"
    nginx_fixture_stop "$name"
    return 1
}

nginx_fixture_stop() {
    if [ $# -gt 0 ]; then
        _nginx_stop "NGINX${1:+_$1}"
        return 0
    fi
    local prefix
    for prefix in "${!_nginx_pids[@]}"; do _nginx_stop "$prefix"; done
}

# kill -0 can report a finished nginx as alive for seconds (a zombie): wait for the child.
_nginx_stop() {
    local pid=${_nginx_pids[$1]:-}
    [ -n "$pid" ] || return 0
    # Callers may run under set -e: one already stopped (nginx_fixture_kill) fails both.
    kill -QUIT "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    unset "_nginx_pids[$1]"
}

# The master removes its pid file once its workers have gone and it ends: from a subshell,
# which cannot wait for another's child, that is the sign the ports are closed.
nginx_fixture_kill() {
    local prefix=NGINX${1:+_$1}
    local pid=${_nginx_pids[$prefix]:-}
    [ -n "$pid" ] || { _nginx_fail "no instance $prefix to stop"; return 1; }
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 200); do
        [ -e "${_nginx_dirs[$prefix]}/nginx.pid" ] || return 0
        sleep 0.05
    done
    _nginx_fail "$prefix did not stop within 10 s"
}

# Wine's crypt32 reads the host's trust store and the prefix's registry: a root written to the
# prefix's registry is trusted there and nowhere else. The value is a serialized certificate
# property: id 0x20 (the encoded certificate), 1, the DER length, then the DER bytes.
wine_trust_ca() {
    local pem=$1 marker=${2:-} der sha1 blob
    [ -n "${WINEPREFIX:-}" ] || { _nginx_fail "wine_trust_ca needs WINEPREFIX"; return 1; }
    der=$(mktemp)
    openssl x509 -in "$pem" -outform DER -out "$der" || { rm -f "$der"; return 1; }
    sha1=$(openssl x509 -in "$pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    blob=$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(); print((struct.pack('<III',0x20,1,len(d))+d).hex())" "$der")
    rm -f "$der"
    "$wine_run" reg add \
        "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$sha1" \
        /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 ||
        { _nginx_fail "could not trust $pem in $WINEPREFIX"; return 1; }
    # The registry reaches the disk when the Wine server ends: wait, so that nothing killed
    # later can lose the entry while the marker says it is there.
    wineserver -w
    [ -z "$marker" ] || _nginx_ca_digest "$pem" >"$marker"
}

# New certificates (another run made them again) mean trusting again.
wine_trusts_ca() { [ "$(cat "$2" 2>/dev/null)" = "$(_nginx_ca_digest "$1")" ]; }
_nginx_ca_digest() { sha256sum "$1" | cut -d' ' -f1; }
