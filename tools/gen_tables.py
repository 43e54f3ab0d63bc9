#!/usr/bin/env python3
"""Writes huffman_tables.cpp, synthwindow_table.cpp and layer2_tables.cpp
of compo/mpeg/tables/ from the numeric tables of the MPEG audio standards
(the iso-tables folder).

usage: tools/gen_tables.py ISO_TABLES_DIR OUTPUT_DIR (compo/mpeg/tables)
"""
import sys

# The reader's levels: a first level per table, then subtables of up to
# MAX_SUB_WIDTH bits, each peeked with its own top-up check. Which bytes the
# bit reader has loaded after a pair, and with it where decoding stops at the
# end of the data, is reckoned on them, so they are fixed; the widths of the
# lookup tables themselves are free.
READER_WIDTH = {1: 3, 2: 6, 3: 6, 5: 8, 6: 7, 7: 6, 8: 8, 9: 6, 10: 8, 11: 8,
                12: 7, 13: 6, 15: 8, 16: 8, 24: 9}
MAX_SUB_WIDTH = 6
# First-level widths of the lookup tables themselves.
FIRST_WIDTH = {1: 3, 2: 6, 3: 6, 5: 8, 6: 7, 7: 8, 8: 8, 9: 9, 10: 8, 11: 8,
               12: 10, 13: 8, 15: 11, 16: 9, 24: 10}


def read_codes(path):
    tables = {}
    current = None
    for line in open(path):
        line = line.split('#')[0].strip()
        if not line:
            continue
        if line.startswith('.table'):
            parts = line.split()
            current = int(parts[1])
            tables[current] = []
            continue
        if line.startswith('.ref'):
            tables[current] = None
            continue
        if line.startswith('.'):
            continue
        parts = line.split()
        if current >= 32:
            v, hlen, code = int(parts[0]), int(parts[1]), parts[2]
            tables[current].append((code, v, 0))
        else:
            x, y, hlen, code = int(parts[0]), int(parts[1]), int(parts[2]), parts[3]
            tables[current].append((code, x, y))
        assert len(code) == hlen
    return tables


def leaf(length, x, y, peeks):
    """A leaf word: see compo/mpeg/huffman.h."""
    nonzero = (x != 0) + (y != 0)
    o1, o2, o3 = (list(peeks) + [0, 0, 0])[:3]
    rest = o3 - o2 if o3 else 0
    assert len(peeks) <= 3 and o1 < 16 and o2 < 16 and 0 <= rest < 8
    return (length << 24) | (y << 20) | (x << 16) | (rest << 12) | (o2 << 8) | (o1 << 2) | nonzero


def whole_leaf(code, x, y, peeks, signs):
    """A first-level leaf holding the pair with its signs."""
    nonzero = (x != 0) + (y != 0)
    assert len(peeks) <= 1 and code < 16
    if x:
        x, signs = (-x if signs[0] == '1' else x), signs[1:]
    if y:
        y = -y if signs[0] == '1' else y
    need = code + (nonzero + 2 if nonzero else 0)
    return ((0x80 | len(peeks) << 6 | code + nonzero) << 24 | (y & 0xFF) << 16 | (x & 0xFF) << 8
            | need << 4 | code)


def reader_leaves(codes, width, prefix='', peeks=()):
    """The bit patterns the reader's levels resolve, each with its values and
    the offsets of the peeks after the first. A pattern no code starts with
    (corrupt data) decodes to zeros, consuming the level's bits."""
    leaves = {}
    for index in range(1 << width):
        bits = format(index, '0%db' % width)
        short = [c for c in codes if len(c[0]) <= width and bits.startswith(c[0])]
        if short:
            code, x, y = short[0]
            leaves[prefix + code] = (x, y, peeks)
            continue
        rest = [(c[0][width:], c[1], c[2]) for c in codes
                if len(c[0]) > width and c[0][:width] == bits]
        if not rest:
            leaves[prefix + bits] = (0, 0, peeks)
            continue
        sub_width = min(max(len(c[0]) for c in rest), MAX_SUB_WIDTH)
        deeper = prefix + bits
        leaves.update(reader_leaves(rest, sub_width, deeper, peeks + (len(deeper),)))
    return leaves


def build(patterns, width, reader_width=0, escapes=False):
    """patterns: bit pattern -> (x, y, peeks), covering every bit string.
    With reader_width, the first level: a pair whose code and sign bits fit
    in its width, without linbits (escapes: a 15 has them), gets a whole
    leaf."""
    table = [width | reader_width << 8] + [0] * (1 << width)
    for index in range(1 << width):
        bits = format(index, '0%db' % width)
        short = [p for p in patterns if len(p) <= width and bits.startswith(p)]
        if short:
            code = short[0]
            x, y, peeks = patterns[code]
            nonzero = (x != 0) + (y != 0)
            whole = (reader_width and len(code) + nonzero <= width
                     and not (escapes and 15 in (x, y)))
            if whole:
                table[1 + index] = whole_leaf(len(code), x, y, peeks, bits[len(code):])
            else:
                table[1 + index] = leaf(len(code), x, y, peeks)
            continue
        rest = {p[width:]: v for p, v in patterns.items() if len(p) > width and p[:width] == bits}
        assert rest
        sub_width = min(max(len(p) for p in rest), MAX_SUB_WIDTH)
        table[1 + index] = len(table)
        table.extend(build(rest, sub_width))
    return table


def emit_words(out, name, words):
    out.write('const std::uint32_t %s[%d] = {\n' % (name, len(words)))
    for i in range(0, len(words), 8):
        out.write('    ' + ', '.join('0x%08x' % w for w in words[i:i + 8]) + ',\n')
    out.write('};\n\n')


def main():
    iso, compo = sys.argv[1], sys.argv[2]
    codes = read_codes(iso + '/huffcode')
    with open(compo + '/huffman_tables.cpp', 'w') as out:
        out.write('// Generated by: tools/gen_tables.py ../shared/iso-tables compo/mpeg/tables\n')
        out.write('// Layer III Huffman lookup tables (see compo/mpeg/huffman.h for the layout).\n')
        out.write('#include "compo/mpeg/huffman.h"\n\nnamespace morvik::mpeg {\n\n')
        for number, width in sorted(FIRST_WIDTH.items()):
            patterns = reader_leaves(codes[number], READER_WIDTH[number])
            table = build(patterns, width, READER_WIDTH[number], number in (16, 24))
            emit_words(out, 'kHuffTable%d' % number, table)
        count1 = [0] * 64
        for code, v, _ in codes[32]:
            shift = 6 - len(code)
            base = int(code, 2) << shift
            for k in range(1 << shift):
                count1[base + k] = (len(code) << 8) | v
        out.write('const std::uint16_t kCount1TableA[64] = {\n')
        for i in range(0, 64, 8):
            out.write('    ' + ', '.join('0x%04x' % w for w in count1[i:i + 8]) + ',\n')
        out.write('};\n\n} // namespace morvik::mpeg\n')

    window = [0] * 512
    for token in open(iso + '/dewindow').read().replace('D[', ' D[').split(' D[')[1:]:
        index, value = token.split(']=')
        window[int(index)] = round(float(value.split()[0]) * 65536)
    with open(compo + '/synthwindow_table.cpp', 'w') as out:
        out.write('// Generated by: tools/gen_tables.py ../shared/iso-tables compo/mpeg/tables\n')
        out.write('// Synthesis window D[0..511] in units of 2^-16 (every value is an exact multiple).\n')
        out.write('#include "compo/mpeg/synthesis.h"\n\nnamespace morvik::mpeg {\n\n')
        out.write('const std::int32_t kSynthesisWindowD[512] = {\n')
        for i in range(0, 512, 8):
            out.write('    ' + ', '.join('%d' % w for w in window[i:i + 8]) + ',\n')
        out.write('};\n\n} // namespace morvik::mpeg\n')

    write_layer2_tables(iso, compo)


def write_layer2_tables(iso, compo):
    with open(compo + '/layer2_tables.cpp', 'w') as out:
        out.write('// Generated by: tools/gen_tables.py ../shared/iso-tables compo/mpeg/tables\n')
        out.write('// Layer II allocation tables: B.2a, B.2b, B.2c, B.2d and the lower-sampling-frequency table.\n')
        out.write('#include "compo/mpeg/layer12.h"\n\nnamespace morvik::mpeg {\n\n')
        out.write('const Layer2AllocTable kLayer2AllocTables[5] = {\n')
        for n in range(5):
            lines = [l.split() for l in open('%s/alloc_%d' % (iso, n)) if l.strip()]
            subbands = int(lines[0][0])
            nbal = [0] * 32
            classes = [[0] * 16 for _ in range(32)]
            for sb, index, steps, bits, group, quant in (map(int, l) for l in lines[1:]):
                if index == 0:
                    nbal[sb] = bits
                else:
                    classes[sb][index] = quant + 1
            out.write('    {%d,\n     {%s},\n     {\n' % (subbands, ', '.join(map(str, nbal))))
            for sb in range(32):
                out.write('         {%s},\n' % ', '.join(map(str, classes[sb])))
            out.write('     }},\n')
        out.write('};\n\n} // namespace morvik::mpeg\n')


if __name__ == '__main__':
    main()
