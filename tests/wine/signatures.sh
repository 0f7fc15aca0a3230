#!/usr/bin/env bash
# Authenticode signatures. A throwaway self-signed certificate of the
# publisher Ruvo is made here with openssl (test-certificate.sh), a copy of
# UNSIGNED-EXE is signed with it by the build's own signing step
# (packaging/windows/Sign.cmake), timestamped by a timestamp server of the
# test's own on this machine's loopback (openssl ts behind Python's HTTP
# server): osslsigncode verify finds the signature good, covering the file,
# naming Ruvo, and timestamped; the same copy with one byte changed fails it. When the build was signed (OLVEX_SIGN_PKCS12, and
# OLVEX_SIGN_PASSWORD_FILE if it has a password), each SIGNED-FILE passes
# the same check and names the subject of that certificate.
#
#   tests/wine/signatures.sh OSSLSIGNCODE UNSIGNED-EXE [SIGNED-FILE...]
set -euo pipefail
usage="usage: signatures.sh OSSLSIGNCODE UNSIGNED-EXE [SIGNED-FILE...]"
osslsigncode=${1:?$usage}
unsigned=${2:?$usage}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -s "$work/verify.out" ] && { echo "--- osslsigncode verify"; tail -n 40 "$work/verify.out"; } >&2
    exit 1
}
# verify FILE TRUSTED-CERTIFICATE SUBJECT [OPTIONS]: a good signature over
# the whole of FILE, made with the certificate of that subject.
verify() {
    "$osslsigncode" verify -CAfile "$2" "${@:4}" -in "$1" >"$work/verify.out" 2>&1 \
        || fail "$(basename "$1"): osslsigncode verify fails"
    grep -q '^Signature verification: ok' "$work/verify.out" || fail "$(basename "$1"): no good signature"
    grep -q 'MISMATCH' "$work/verify.out" && fail "$(basename "$1"): the signature does not cover the file"
    sed 's/^[[:space:]]*//' "$work/verify.out" | grep -qxF "Subject: $3" \
        || fail "$(basename "$1"): signed by someone else than $3"
    echo "ok   $(basename "$1"): signed by $3, the signature covers the file"
}

"$here/test-certificate.sh" "$work/certificate"

# The timestamp server: RFC 3161 answers from openssl ts, over HTTP on
# 127.0.0.1, for two minutes at most.
mkdir "$work/tsa"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tsa/key.pem" -out "$work/tsa/tsa.pem" -days 2 \
    -subj "/CN=Throwaway timestamp server" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=critical,timeStamping" >/dev/null 2>&1
echo 01 >"$work/tsa/serial"
cat >"$work/tsa/tsa.cnf" <<END
[ tsa ]
default_tsa = here
[ here ]
serial = $work/tsa/serial
signer_cert = $work/tsa/tsa.pem
signer_key = $work/tsa/key.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
END
timeout 120 python3 - "$work/tsa" >"$work/tsa/server.log" 2>&1 <<'END' &
import http.server, subprocess, sys
tsa = sys.argv[1]
class Answer(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        with open(tsa + "/query", "wb") as query:
            query.write(self.rfile.read(int(self.headers["Content-Length"])))
        subprocess.run(["openssl", "ts", "-reply", "-config", tsa + "/tsa.cnf", "-queryfile",
                        tsa + "/query", "-out", tsa + "/reply"], check=True)
        reply = open(tsa + "/reply", "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Answer)
open(tsa + "/port", "w").write(str(server.server_port))
server.serve_forever()
END
server=$!
for _ in $(seq 50); do [ -s "$work/tsa/port" ] && break; sleep 0.1; done
[ -s "$work/tsa/port" ] || fail "no timestamp server: $(cat "$work/tsa/server.log")"

cp "$unsigned" "$work/program.exe"
cmake -DOSSLSIGNCODE="$osslsigncode" -DSIGN_PKCS12="$work/certificate/certificate.p12" \
      -DSIGN_PASSWORD_FILE="$work/certificate/password" \
      -DSIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$work/tsa/port")/" \
      -DURL=https://shop.ruvo.example/olvex-updater -DFILE="$work/program.exe" -DDESCRIPTION="Olvex Updater" \
      -P "$here/../../packaging/windows/Sign.cmake" || fail "the build's signing step failed"
verify "$work/program.exe" "$work/certificate/certificate.pem" "/O=Ruvo/OU=Throwaway test certificate/CN=Ruvo" \
    -TSA-CAfile "$work/tsa/tsa.pem"
grep -q '^Timestamp Server Signature verification: ok' "$work/verify.out" || fail "program.exe: no good timestamp"
echo "ok   program.exe: timestamped by the timestamp server it was given"

# One byte in the middle changed after signing.
size=$(stat -c %s "$work/program.exe")
byte=$(od -An -tu1 -j $((size / 2)) -N1 "$work/program.exe" | tr -d ' ')
printf %b "\\$(printf %03o $((byte ^ 0xff)))" | dd of="$work/program.exe" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
if "$osslsigncode" verify -CAfile "$work/certificate/certificate.pem" -in "$work/program.exe" \
        >"$work/verify.out" 2>&1; then
    fail "a file changed after signing passes osslsigncode verify"
fi
grep -q 'MISMATCH' "$work/verify.out" || fail "the changed file fails, but not for its contents"
echo "ok   the same file with one byte changed fails osslsigncode verify"

if [ $# -eq 0 ]; then
    exit 0
fi
if [ -z "${OLVEX_SIGN_PKCS12:-}" ]; then
    echo "ok   the build is unsigned (no OLVEX_SIGN_PKCS12): its programs are not checked"
    exit 0
fi
password=()
[ -n "${OLVEX_SIGN_PASSWORD_FILE:-}" ] && password=(-passin "file:$OLVEX_SIGN_PASSWORD_FILE")
openssl pkcs12 -in "$OLVEX_SIGN_PKCS12" -nokeys -clcerts "${password[@]}" -out "$work/build.pem" 2>/dev/null \
    || fail "cannot read the certificate $OLVEX_SIGN_PKCS12"
subject=$(openssl x509 -in "$work/build.pem" -noout -subject -nameopt compat | sed 's/^subject=//')
# Trusted: the file's own certificates (a throwaway one is its own root) and
# the system's certification authorities (those of a bought one).
openssl pkcs12 -in "$OLVEX_SIGN_PKCS12" -nokeys "${password[@]}" 2>/dev/null >"$work/trusted.pem"
cat /etc/ssl/certs/ca-certificates.crt >>"$work/trusted.pem" 2>/dev/null || true
for file in "$@"; do
    verify "$file" "$work/trusted.pem" "$subject"
done
