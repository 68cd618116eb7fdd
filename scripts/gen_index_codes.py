#!/usr/bin/env python3
"""Generates jet/index/index_codes_data.cpp: the per-character text index codes of the three
sort orders Access writes by default, packed as run-length records.

Input: the code tables in ../shared/jet-index-codes (one line per UTF-16 code unit: a
class letter, then comma-separated hex code fields). The output is committed, so a build
never needs the input folder.

Record stream (one per sort order, covering consecutive code units from U+0000):
  varint count
  byte   class | crazy << 3 | (elements - 1) << 4
                                     class: 0 X, 1 S, 2 I, 3 U, 4 P, 5 Z, 6 G
  byte   code_len | extra_len << 4
  code bytes (big-endian), extra bytes (big-endian)
  if count > 1: zigzag varint code_step, zigzag varint extra_step
Elements: how many sort elements a character's inline code holds (a ligature or an
expansion such as U+00DF "ss" holds several); positions in the extra-code and unprintable
sections of a key count elements, not characters. General Legacy codes are made of 1-byte
elements (letters, digits) and 2-byte elements (a group byte and a weight); General codes
of 2-byte elements, except 4-byte elements led by FD (ideographs).
Entry k of a run has code = base + k * code_step and extra = base + k * extra_step, both
as big-endian integers of the stated length.
"""
import argparse
import base64
import os
import sys

CLASSES = {'X': 0, 'S': 1, 'I': 2, 'U': 3, 'P': 4, 'Z': 5, 'G': 6}
SURROGATE_FIRST, SURROGATE_LAST = 0xD800, 0xDFFF


def hex_bytes(field):
    if field == '':
        return b''
    if len(field) % 2:
        field = '0' + field  # the tables drop a leading zero nibble
    return bytes.fromhex(field)


def parse_line(line):
    """-> (class, code bytes, extra bytes, crazy flag)"""
    cls = line[0]
    if cls not in CLASSES:
        raise ValueError('unknown class in line %r' % line)
    fields = line[1:].split(',') if len(line) > 1 else []
    code = hex_bytes(fields[0]) if fields else b''
    extra = hex_bytes(fields[1]) if len(fields) > 1 else b''
    crazy = 1 if (cls == 'Z' and len(fields) > 2 and fields[2] == '1') else 0
    if cls == 'U':
        pass  # the code field holds the bytes recorded for the unprintable character
    if cls == 'P' and len(code) != 1:
        raise ValueError('P entry needs one modifier byte: %r' % line)
    if cls == 'P':
        code, extra = b'', code  # the modifier is added to the previous extra byte
    return (CLASSES[cls], code, extra, crazy)


def read_lines(path):
    with open(path, encoding='ascii') as f:
        lines = [l.rstrip('\r\n') for l in f]
    while lines and lines[-1] == '':
        lines.pop()
    return lines


def surrogate_entry(c):
    """Surrogate code units are absent from the tables; their codes are arithmetic."""
    if c <= 0xDBFF:
        value = c - 10238
    else:
        off = (c - 0xDC00) % 1024
        if off < 8:
            value = c - 9992
        elif off < 8 + 254:
            value = c - 9990
        elif off < 8 + 2 * 254:
            value = c - 9988
        elif off < 8 + 3 * 254:
            value = c - 9986
        else:
            value = c - 9984
    return (CLASSES['I'], value.to_bytes(2, 'big'), b'\x3f', 0)


def full_table(base_path, ext_path):
    entries = [parse_line(l) for l in read_lines(base_path)]
    if len(entries) != 256:
        raise ValueError('%s: expected 256 lines' % base_path)
    ext = iter(read_lines(ext_path))
    for c in range(0x100, 0x10000):
        if SURROGATE_FIRST <= c <= SURROGATE_LAST:
            entries.append(surrogate_entry(c))
        else:
            entries.append(parse_line(next(ext)))
    if next(ext, None) is not None:
        raise ValueError('%s: too many lines' % ext_path)
    return entries


INLINE_CLASSES = (CLASSES['S'], CLASSES['I'], CLASSES['Z'], CLASSES['G'])


def legacy_element_counter(entries):
    singles = {e[1][0] for e in entries if e[0] in INLINE_CLASSES and len(e[1]) == 1}

    def count(code):
        i = n = 0
        while i < len(code):
            i += 1 if code[i] in singles else 2
            n += 1
        if i != len(code):
            raise ValueError('code %s does not split into elements' % code.hex())
        return n
    return count


def general_element_count(code):
    i = n = 0
    while i < len(code):
        i += 4 if code[i] == 0xFD else 2
        n += 1
    return n


def with_elements(entries, count):
    out = []
    for cls, code, extra, crazy in entries:
        n = count(code) if cls in INLINE_CLASSES and code else 1
        if not 1 <= n <= 4:
            raise ValueError('too many elements in %s' % code.hex())
        out.append((cls, code, extra, crazy, n))
    return out


def as_int(b):
    return int.from_bytes(b, 'big')


def same_shape(a, b):
    return (a[0] == b[0] and a[3] == b[3] and a[4] == b[4] and len(a[1]) == len(b[1]) and
            len(a[2]) == len(b[2]))


def make_runs(entries):
    runs = []
    i = 0
    while i < len(entries):
        first = entries[i]
        j = i + 1
        if j < len(entries) and same_shape(first, entries[j]):
            code_step = as_int(entries[j][1]) - as_int(first[1])
            extra_step = as_int(entries[j][2]) - as_int(first[2])
            while j < len(entries) and same_shape(first, entries[j]):
                k = j - i
                if as_int(entries[j][1]) != as_int(first[1]) + k * code_step:
                    break
                if as_int(entries[j][2]) != as_int(first[2]) + k * extra_step:
                    break
                j += 1
        else:
            code_step = extra_step = 0
        runs.append((j - i, first, code_step, extra_step))
        i = j
    return runs


def varint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        if n:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)


def zigzag(n):
    return (n << 1) if n >= 0 else ((-n << 1) - 1)


def encode_runs(runs):
    out = bytearray()
    for count, (cls, code, extra, crazy, elements), code_step, extra_step in runs:
        out += varint(count)
        out.append(cls | (crazy << 3) | ((elements - 1) << 4))
        out.append(len(code) | (len(extra) << 4))
        out += code + extra
        if count > 1:
            out += varint(zigzag(code_step)) + varint(zigzag(extra_step))
    return bytes(out)


def decode_runs(blob, total):
    """Mirror of the C++ decoder, used to prove the stream before writing it."""
    pos = 0
    entries = []

    def read_varint():
        nonlocal pos
        shift = value = 0
        while True:
            b = blob[pos]
            pos += 1
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value

    def unzig(n):
        return (n >> 1) if not n & 1 else -((n + 1) >> 1)

    while len(entries) < total:
        count = read_varint()
        head = blob[pos]
        lens = blob[pos + 1]
        pos += 2
        code_len, extra_len = lens & 0x0F, lens >> 4
        code = as_int(blob[pos:pos + code_len])
        extra = as_int(blob[pos + code_len:pos + code_len + extra_len])
        pos += code_len + extra_len
        cs = es = 0
        if count > 1:
            cs = unzig(read_varint())
            es = unzig(read_varint())
        for k in range(count):
            entries.append((head & 7, (code + k * cs).to_bytes(code_len, 'big'),
                            (extra + k * es).to_bytes(extra_len, 'big'), (head >> 3) & 1,
                            ((head >> 4) & 3) + 1))
    if pos != len(blob) or len(entries) != total:
        raise ValueError('run stream does not round-trip')
    return entries


def c_string(blob, indent='    '):
    """The blob in base64 as concatenated string literals (a quarter of the size of escapes)."""
    text = base64.b64encode(blob).decode('ascii')
    width = 92
    return '\n'.join(indent + '"' + text[i:i + width] + '"' for i in range(0, len(text), width))


def read_mappings(path):
    pairs = []
    for line in read_lines(path):
        line = line.strip()
        if not line:
            continue
        src, dst = line.split(',')
        pairs.append((int(src), int(dst)))
    return pairs


HEADER = """\
// Generated by scripts/gen_index_codes.py from the index code tables measured from files
// Access wrote (source and licence: see NOTICE). Do not edit; rerun the script instead.
// Each stream is base64 text of a sequence of run records described in the script and
// decoded by jet/index/index_codes.cpp.
#include "jet/index/index_codes_data.h"

namespace jet::index_codes_data {
"""


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    # The shared folder sits beside the repository (or beside its worktree folder).
    candidates = [os.path.join(root, *up, 'shared', 'jet-index-codes') for up in (('..',), ('..', '..'))]
    default_input = next((c for c in candidates if os.path.isdir(c)), candidates[0])
    ap.add_argument('--input', default=default_input)
    ap.add_argument('--output', default=os.path.join(root, 'jet', 'index', 'index_codes_data.cpp'))
    args = ap.parse_args()
    src = args.input

    out = [HEADER]
    stats = []
    for name, base, ext in (('general_legacy', 'index_codes_genleg.txt', 'index_codes_ext_genleg.txt'),
                            ('general', 'index_codes_gen.txt', 'index_codes_ext_gen.txt')):
        entries = full_table(os.path.join(src, base), os.path.join(src, ext))
        count = legacy_element_counter(entries) if name == 'general_legacy' else general_element_count
        entries = with_elements(entries, count)
        runs = make_runs(entries)
        blob = encode_runs(runs)
        if decode_runs(blob, len(entries)) != entries:
            raise SystemExit('%s: decoded table differs from the source' % name)
        stats.append('%s: %d code units, %d runs, %d bytes' % (name, len(entries), len(runs), len(blob)))
        out.append('const char %s_runs[] =\n%s;\nconst std::size_t %s_runs_size = sizeof(%s_runs) - 1;\n'
                   % (name, c_string(blob), name, name))

    entries97 = with_elements([parse_line(l) for l in read_lines(os.path.join(src, 'index_codes_gen_97.txt'))],
                              lambda code: 1)
    if len(entries97) != 256:
        raise SystemExit('General 97 base table must have 256 lines')
    runs97 = make_runs(entries97)
    blob97 = encode_runs(runs97)
    if decode_runs(blob97, 256) != entries97:
        raise SystemExit('general_97: decoded table differs from the source')
    stats.append('general_97: 256 code units, %d runs, %d bytes' % (len(runs97), len(blob97)))
    out.append('const char general_97_runs[] =\n%s;\nconst std::size_t general_97_runs_size = sizeof(general_97_runs) - 1;\n'
               % c_string(blob97))

    pairs = read_mappings(os.path.join(src, 'index_mappings_ext_gen_97.txt'))
    body = ',\n'.join('    {0x%04X, 0x%02X}' % p for p in pairs)
    out.append('// Characters above U+00FF that General 97 sorts like a character of the base table.\n'
               'const CharMapping general_97_mappings[] = {\n%s,\n};\n'
               'const std::size_t general_97_mappings_size = sizeof(general_97_mappings) / sizeof(general_97_mappings[0]);\n'
               % body)
    out.append('}  // namespace jet::index_codes_data\n')

    with open(args.output, 'w', encoding='ascii', newline='\n') as f:
        f.write('\n'.join(out))
    for s in stats:
        print(s)
    print('wrote %s (%d bytes)' % (args.output, os.path.getsize(args.output)))


if __name__ == '__main__':
    sys.exit(main())
