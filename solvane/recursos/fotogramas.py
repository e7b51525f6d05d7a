#!/usr/bin/env python3
"""Draws the progress window's four 32x32, 16-colour frames: a database drum filling up."""
import struct
import sys
import zlib

PALETA = [
    (0, 0, 0), (32, 32, 48), (96, 96, 112), (160, 160, 176), (224, 224, 232), (255, 255, 255),
    (16, 64, 160), (40, 110, 220), (110, 170, 250), (200, 225, 255), (250, 200, 40), (200, 140, 0),
    (20, 140, 60), (90, 200, 110), (180, 40, 40), (255, 240, 160),
]


def dentro_elipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def fotograma(n):
    """Frame n (0..3): the drum's level rises with n; a gold arrow climbs beside it."""
    img = [[0] * 32 for _ in range(32)]
    cx, rx, ry, arriba, abajo = 14.5, 10.5, 3.5, 6, 26
    nivel = abajo - (n + 1) * (abajo - arriba) // 4
    for y in range(32):
        for x in range(32):
            cuerpo = cx - rx <= x + 0.5 <= cx + rx and arriba <= y <= abajo
            fondo = dentro_elipse(x + 0.5, y + 0.5, cx, abajo, rx, ry)
            tapa = dentro_elipse(x + 0.5, y + 0.5, cx, arriba, rx, ry)
            if cuerpo or fondo:
                lleno = y >= nivel
                borde = abs(x + 0.5 - (cx - rx)) < 1 or abs(x + 0.5 - (cx + rx)) < 1
                brillo = abs(x + 0.5 - (cx - rx + 3)) < 1
                if borde:
                    img[y][x] = 1
                elif lleno:
                    img[y][x] = 9 if brillo else (7 if y > nivel else 8)
                else:
                    img[y][x] = 4 if brillo else 3
            if tapa:
                img[y][x] = 2 if not dentro_elipse(x + 0.5, y + 0.5, cx, arriba, rx - 1, ry - 1) else 5
            if fondo and not dentro_elipse(x + 0.5, y + 0.5, cx, abajo, rx - 1, ry - 1) and y >= abajo:
                img[y][x] = 1
    # The arrow: a gold chevron and shaft, higher in each frame.
    punta = 22 - n * 5
    for i in range(4):
        for x in (28 - i, 28 + i):
            if 0 <= x < 32 and 0 <= punta + i < 32:
                img[punta + i][x] = 10
    for y in range(punta + 1, min(punta + 9, 32)):
        img[y][28] = 11
    return img


def png(img):
    crudo = b""
    for fila in img:
        datos = bytearray()
        for x in range(0, 32, 2):
            datos.append((fila[x] << 4) | fila[x + 1])
        crudo += b"\x00" + bytes(datos)

    def trozo(tipo, datos):
        return struct.pack(">I", len(datos)) + tipo + datos + struct.pack(">I", zlib.crc32(tipo + datos))

    return (b"\x89PNG\r\n\x1a\n" + trozo(b"IHDR", struct.pack(">IIBBBBB", 32, 32, 4, 3, 0, 0, 0)) +
            trozo(b"PLTE", b"".join(bytes(c) for c in PALETA)) + trozo(b"tRNS", b"\x00") +
            trozo(b"IDAT", zlib.compress(crudo, 9)) + trozo(b"IEND", b""))


if __name__ == "__main__":
    carpeta = sys.argv[1] if len(sys.argv) > 1 else "."
    for n in range(4):
        with open(f"{carpeta}/imgActualiza{n}.png", "wb") as f:
            f.write(png(fotograma(n)))
