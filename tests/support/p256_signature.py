#!/usr/bin/env python3
"""ECDSA P-256 signatures between the manifest's r || s (128 hex digits) and the DER
form openssl dgst reads and writes.

  p256_signature.py to-der HEX OUT.der    r || s -> DER file
  p256_signature.py to-raw IN.der         DER file -> r || s hex on stdout
"""
import sys


def der_integer(value):
    body = value.to_bytes(32, "big").lstrip(b"\0") or b"\0"
    if body[0] & 0x80:
        body = b"\0" + body
    return bytes([0x02, len(body)]) + body


def to_der(hex_text):
    raw = bytes.fromhex(hex_text)
    if len(raw) != 64:
        sys.exit("r || s must be 64 bytes")
    body = der_integer(int.from_bytes(raw[:32], "big")) + der_integer(int.from_bytes(raw[32:], "big"))
    return bytes([0x30, len(body)]) + body


def to_raw(der):
    if der[0] != 0x30 or der[1] != len(der) - 2:
        sys.exit("not a DER SEQUENCE")
    values, at = [], 2
    while at < len(der):
        if der[at] != 0x02:
            sys.exit("not a DER INTEGER")
        length = der[at + 1]
        values.append(int.from_bytes(der[at + 2:at + 2 + length], "big"))
        at += 2 + length
    if len(values) != 2:
        sys.exit("expected r and s")
    return b"".join(v.to_bytes(32, "big") for v in values).hex()


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "to-der":
        open(sys.argv[3], "wb").write(to_der(sys.argv[2]))
    elif len(sys.argv) == 3 and sys.argv[1] == "to-raw":
        print(to_raw(open(sys.argv[2], "rb").read()))
    else:
        sys.exit(__doc__)
