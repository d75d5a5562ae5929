#!/bin/sh
# Makes the certificates of the TLS port tests in folder $1 with the openssl command line:
# a CA (ca.pem), the station's certificate for 127.0.0.1 (station.pem, station.key, 0600),
# its renewal (renewed.pem, renewed.key: "station-renewed", ending in 10 days), and clients:
# alice (by the CA), mallory (by another CA), old (by the CA, expired).
set -eu
dir=$1
cd "$dir"
umask 077
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }
for ca in ca other; do
  quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem -days 30 \
    -subj "/CN=Test $ca" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign
done
printf 'subjectAltName=IP:127.0.0.1,IP:::1\n' >station.ext
quiet openssl req -newkey rsa:2048 -nodes -keyout station.key -out station.csr -subj /CN=station
quiet openssl x509 -req -in station.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
  -extfile station.ext -out station.pem
quiet openssl req -newkey rsa:2048 -nodes -keyout renewed.key -out renewed.csr \
  -subj /CN=station-renewed
quiet openssl x509 -req -in renewed.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 10 \
  -extfile station.ext -out renewed.pem
for client in alice:ca mallory:other; do
  name=${client%%:*} ca=${client#*:}
  quiet openssl req -newkey rsa:2048 -nodes -keyout $name.key -out $name.csr -subj "/CN=$name"
  quiet openssl x509 -req -in $name.csr -CA $ca.pem -CAkey $ca.key -CAcreateserial -days 30 \
    -out $name.pem
done
# An expired certificate needs dates in the past, which only "openssl ca" sets.
: >index.txt
echo 1000 >serial
cat >ca.cnf <<CONF
[ca]
default_ca = test
[test]
database = $dir/index.txt
new_certs_dir = $dir
serial = $dir/serial
default_md = sha256
policy = any
[any]
commonName = supplied
CONF
quiet openssl req -newkey rsa:2048 -nodes -keyout old.key -out old.csr -subj /CN=old
quiet openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in old.csr -out old.pem \
  -startdate 20200101000000Z -enddate 20200201000000Z
chmod 600 station.key renewed.key
