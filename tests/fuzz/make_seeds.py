#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are committed; run this again only to change them."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

PAGE = ('<html><head><title>TEV-4400 Status</title></head>\r\n<body><table>\r\n'
        '<tr><td class="label">Product Name:</td><td><b>TEV-4400</b></td></tr>\r\n'
        '<tr><td class="label">MAC Address:</td><td><b>00:1B:5A:12:34:56</b></td></tr>\r\n'
        '<tr><td class="label">Software Version:</td><td><b>3.1.8(a)</b></td></tr>\r\n'
        '<tr><td class="label">Hardware Version:</td><td><font color="#000080">Rev. B</font></td></tr>\r\n'
        '<tr><td class="label">Serial Number:</td><td>TV12345678</td></tr>\r\n'
        '</table></body></html>\r\n')
HEAD_200 = 'HTTP/1.1 200 OK\r\nServer: TEV-Web\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n'


def challenge(*directives):
    return ('HTTP/1.1 401 Unauthorized\r\nServer: TEV-Web\r\nWWW-Authenticate: Digest ' +
            ', '.join(directives) + '\r\nConnection: close\r\n\r\n<html><h1>401 Unauthorized</h1></html>\r\n')


TEXT_SEEDS = {
    'http_status': [
        HEAD_200 + PAGE,
        challenge('realm="TEV"', 'nonce="6b8f3c2a91d0"', 'qop="auth"', 'algorithm="MD5"'),
        challenge('realm="TEV"', 'nonce="6b8f3c2a91d0"', 'qop="auth-int"', 'algorithm="MD5-sess"', 'opaque="5ccc"'),
        challenge('realm="TEV"', 'nonce="n"', 'qop="auth,auth-int"', 'algorithm=MD5', 'stale=true'),
        challenge('realm="' + 'R' * 500 + '"', 'nonce="' + 'N' * 500 + '"', 'qop="' + 'q' * 40 + '"'),
        challenge('nonce="only"'),
        'HTTP/1.1 401 Unauthorized\r\n\r\n',
        'HTTP/1.0 200 OK\r\n\r\n' + PAGE,
        'HTTP/1.1',
        'HTTP/1.1 \t ',
        'HTTP/1.1 404 Not Found\r\n\r\n',
        # RFC 7616: one challenge line per algorithm, SHA-256 first; and names this client passes over.
        challenge('realm="TEV"', 'nonce="n1"', 'qop="auth"', 'algorithm=SHA-256', 'userhash=true').replace(
            '\r\nConnection', '\r\nWWW-Authenticate: Digest realm="TEV", nonce="n1", algorithm=MD5\r\nConnection'),
        challenge('realm="TEV"', 'nonce="n2"', 'algorithm=SHA-512-256', 'Digest realm="TEV"', 'nonce="n3"',
                  'algorithm="sha-256-SESS"', 'qop=auth', 'charset=UTF-8'),
    ],
    'status_page': [
        HEAD_200 + PAGE,
        'Product Name: TEV-4400<br>',
        'Serial Number:>',
        'Software Version:</td><td><b><font>' + 'v' * 500 + '</font></b>',
        'MAC Address:\n' + 'Hardware Version:</td><td>Rev. B</td>',
    ],
    'ipv4': ['192.168.0.1', '001.002.003.004', '1*2*3*4', '..1.2.3.4', '1..2.3.4.', '1.2.3', '1.2.3.4 ',
             'a.b.c.d.e', '1.2.3.4.5', '256.1.1.1', '1.22.333', '10.20.30', '.......', '0.0.0.0',
             '9999999999.1.1'],
    'version': ['3.2.9(b)', '3.2', '3.2.100', '3.1.010', '3.1.08', '', '0x1F.0X2.3', '-1.-2.-3',
                '99999999999.4294967296.1', ' \t3.\n2.\r1', '1-2-3-4-5', '0x', '+0.-0x.08'],
}


def rrq(name, mode=b'octet', opcode=1):
    return struct.pack('>H', opcode) + name + b'\0' + mode + b'\0tsize\x000\0timeout\x005\0'


LISTENER_SEEDS = [
    rrq(b'/tev1a2b.bi1'), rrq(b'/TEV1A2B.BI1'), rrq(b'tev1a2b.bi1'), rrq(b'/tev1a2b.bi1', opcode=2),
    b'\0\1/tev1a2b.bi1', b'\0\1' + b'/' * 128, b'\0\3\0\1data', b'\0\4\0\1', b'\0\5\0\0error\0',
    b'\0\6tsize\0', b'\0', b'\xff\xff',
]

PEER, STRANGER_PORT, STRANGER_ADDRESS = 1, 2, 6


def ack(block):
    return bytes([3, block >> 8 & 0xff, block & 0xff])


def datagram(kind, payload):
    return bytes([kind, len(payload)]) + payload


def empties(count):
    return bytes([0, count - 1])


def exchange(size, extra=lambda block: b''):
    script = struct.pack('>H', size)
    for block in range(size // 512 + 2):
        script += extra(block) + ack(block)
    return script


def session_seeds():
    seeds = [exchange(size) for size in (0, 1, 511, 512, 1024, 3000, 5120)]
    # Duplicates of the previous ACK, strangers, errors and silence between the good ACKs.
    seeds.append(exchange(1500, lambda b: ack(b - 1) if b > 0 else b''))
    seeds.append(exchange(1500, lambda b: datagram(STRANGER_PORT, b'\0\4' + struct.pack('>H', b))))
    seeds.append(exchange(1500, lambda b: datagram(STRANGER_ADDRESS, b'\0\4' + struct.pack('>H', b))))
    seeds.append(exchange(1500, lambda b: datagram(PEER, b'\0\5\0\0Disk full\0') + empties(150)))
    seeds.append(exchange(700, lambda b: datagram(PEER, b'\0\4') + datagram(PEER, b'\0')))
    seeds.append(exchange(700, lambda b: empties(256) * 3))
    # No answer at all, and an ACK of the wrong block only.
    seeds.append(struct.pack('>H', 600))
    seeds.append(struct.pack('>H', 600) + ack(1) * 10)
    return seeds


def write(target, seeds):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for index, seed in enumerate(seeds):
        data = seed.encode('latin-1') if isinstance(seed, str) else seed
        with open(os.path.join(folder, 'seed-%02d' % index), 'wb') as out:
            out.write(data)


def exchange_seeds():
    answers = TEXT_SEEDS['http_status']
    seeds = [bytes([flags, piece]) + answer.encode('latin-1')
             for flags, piece, answer in [(0, 255, answers[0]), (0, 0, answers[1]), (1, 3, answers[2]),
                                          (2, 1, answers[3]), (3, 255, answers[4]), (0, 255, '')]]
    seeds.append(bytes([2, 10]) + (HEAD_200 + PAGE + '<!-- ' + 'x' * 3000 + ' -->').encode('latin-1'))
    # Answers that end before the close: by their length, and chunked with a label split in two.
    body = PAGE
    seeds.append(bytes([0, 1]) + ('HTTP/1.1 200 OK\r\ncontent-length: %d\r\n\r\n' % len(body) + body +
                                  'after the end').encode('latin-1'))
    cut = body.find('Name:') + 2
    chunks = '%x;ext=1\r\n%s\r\n%X\r\n%s\r\n0\r\nTrailer: t\r\n\r\n' % (cut, body[:cut], len(body) - cut, body[cut:])
    seeds.append(bytes([0, 0]) + ('HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n' + chunks).encode('latin-1'))
    return seeds


for target, seeds in TEXT_SEEDS.items():
    write(target, seeds)
write('http_exchange', exchange_seeds())
write('listener', LISTENER_SEEDS)
write('session', session_seeds())
