#!/bin/sh
# Makes a throw-away certificate authority and a server certificate for 127.0.0.1 and localhost
# signed by it, for the local HTTPS billing server of the tests and of the demo service.
#
#   make_test_ca.sh FOLDER
#
# Writes FOLDER/ca.pem (trust this), FOLDER/server.pem and FOLDER/server.key (serve with these),
# and FOLDER/ca.key. Files already there are kept, so the demo's CA stays the same across runs.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 FOLDER" >&2
    exit 2
fi
dir=$1
mkdir -p "$dir"
cd "$dir"

if [ -s ca.pem ] && [ -s server.pem ] && [ -s server.key ] &&
    openssl x509 -in server.pem -noout -checkend 86400 >/dev/null 2>&1; then
    exit 0
fi

umask 077
openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout ca.key -out ca.pem -days 3650 -subj "/CN=Orvane Softphone test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null

cat >server.ext <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
    -out server.pem -days 825 -extfile server.ext 2>/dev/null
rm -f server.csr server.ext ca.srl
# The CA certificate is public; everything else stays private.
chmod 644 ca.pem
