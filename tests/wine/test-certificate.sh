#!/usr/bin/env bash
# Makes a throwaway, self-signed code-signing certificate for the publisher
# Ruvo with openssl: DIR/certificate.p12 (certificate and key, as a
# certification authority hands them out), DIR/password (its password, made
# up here) and DIR/certificate.pem (the certificate alone, which osslsigncode
# verify takes as the one to trust). Good for two days; Windows trusts it
# nowhere. A certificate made before in DIR and still good is kept.
#
#   tests/wine/test-certificate.sh DIR
set -euo pipefail
dir=${1:?usage: test-certificate.sh DIR}
mkdir -p "$dir"
cd "$dir"
if [ -s certificate.p12 ] && [ -s password ] && openssl x509 -in certificate.pem -noout -checkend 3600 >/dev/null 2>&1; then
    exit 0
fi
rm -f certificate.p12 certificate.pem password key.pem
(umask 077 && openssl rand -hex 24 >password)
openssl req -x509 -newkey rsa:3072 -nodes -keyout key.pem -out certificate.pem -days 2 \
    -subj "/O=Ruvo/OU=Throwaway test certificate/CN=Ruvo" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    >/dev/null 2>&1
openssl pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.p12 -passout file:password
rm -f key.pem
