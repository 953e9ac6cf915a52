# SPDX-License-Identifier: Apache-2.0
# Write the hostile PDFs of the tests into a directory: a page of 200 x 200 in, a
# compression bomb, a page tree that holds itself, a file cut short, one that draws from a
# file outside itself, one that carries JavaScript and one of 101 pages; beside them, a
# plain 4 x 6 in page.
import sys, zlib


def pdf(objects):
    out = b'%PDF-1.7\n'
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b'%d 0 obj\n' % number + body + b'\nendobj\n'
    xref = len(out)
    out += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objects) + 1)
    out += b''.join(b'%010d 00000 n \n' % o for o in offsets)
    out += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objects) + 1, xref)
    return out


def stream(dictionary, data):
    return b'<< %s /Length %d >>\nstream\n' % (dictionary, len(data)) + data + b'\nendstream'


def page(box=b'[0 0 288 432]', resources=b'<< >>', content=b'20 w 0 0 m 288 432 l S', catalog=b'',
         kids=b'[3 0 R]', contents=None):
    return [b'<< /Type /Catalog /Pages 2 0 R ' + catalog + b'>>',
            b'<< /Type /Pages /Kids ' + kids + b' /Count 1 >>',
            b'<< /Type /Page /Parent 2 0 R /MediaBox ' + box + b' /Resources ' + resources +
            b' /Contents 4 0 R >>',
            contents or stream(b'', content)]


def zeros_deflated(blocks):
    """A zlib stream of blocks x 16 MiB of spaces, made from one block repeated."""
    chunk = b' ' * (16 << 20)
    c = zlib.compressobj(9)
    first = c.compress(chunk) + c.flush(zlib.Z_FULL_FLUSH)
    again = c.compress(chunk) + c.flush(zlib.Z_FULL_FLUSH)
    size = blocks * len(chunk)
    a, b = 1, 0
    # Adler-32 of the spaces, worked out without reading them.
    a = (1 + 32 * size) % 65521
    b = (size + 32 * size * (size + 1) // 2) % 65521
    return first + again * (blocks - 1) + b'\x01\x00\x00\xff\xff' + ((b << 16) | a).to_bytes(4, 'big')


out = sys.argv[1]
files = {'huge': pdf(page(box=b'[0 0 14400 14400]'))}
# 64 GiB of blank content behind two layers of compression, about half a megabyte.
inner = zeros_deflated(4096)
files['bomb'] = pdf(page(contents=stream(b'/Filter [/FlateDecode /FlateDecode]',
                                         zlib.compress(inner, 9))))
files['recursion'] = pdf(page(kids=b'[2 0 R 3 0 R]'))
whole = pdf(page())
files['plain'] = whole
files['cut'] = whole[:len(whole) // 2]
external = page(resources=b'<< /XObject << /I 5 0 R >> >>', content=b'q 288 0 0 432 0 0 cm /I Do Q')
external.append(b'<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray '
                b'/BitsPerComponent 8 /Length 0 /F (/etc/hostname) >>\nstream\n\nendstream')
files['external'] = pdf(external)
script = page(catalog=b'/Names << /JavaScript << /Names [(print) 5 0 R] >> >> ')
script.append(b'<< /S /JavaScript /JS (print\\(\\)) >>')
files['javascript'] = pdf(script)
pages = [b'<< /Type /Catalog /Pages 2 0 R >>',
         b'<< /Type /Pages /Kids [%s] /Count 101 >>' % b' '.join(b'%d 0 R' % (n + 4) for n in range(101)),
         stream(b'', b'20 w 0 0 m 288 432 l S')]
pages += [b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 288 432] /Contents 3 0 R >>'] * 101
files['pages'] = pdf(pages)
for name, data in files.items():
    with open('%s/%s.pdf' % (out, name), 'wb') as f:
        f.write(data)
