#!/usr/bin/env python3
"""Synthesises the program's two short sounds under Resources/res/ as 16-bit mono PCM WAV files.

dingdong.wav: a short two-tone click for captures. waterfall.wav: a soft falling chime for a stored
favourite. Only the standard library is used; the WAV files themselves are committed.
"""
import math
import os
import struct
import wave

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "Resources", "res")
RATE = 22050


def write(name, samples):
    os.makedirs(ROOT, exist_ok=True)
    with wave.open(os.path.join(ROOT, name), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", max(-32767, min(32767, int(s * 32767)))) for s in samples))


def tone(freq, seconds, gain, decay):
    n = int(RATE * seconds)
    return [gain * math.sin(2 * math.pi * freq * i / RATE) * math.exp(-decay * i / RATE) for i in range(n)]


def mix(*parts):
    length = max(offset + len(p) for offset, p in parts)
    out = [0.0] * length
    for offset, p in parts:
        for i, v in enumerate(p):
            out[offset + i] += v
    return out


write("dingdong.wav", mix((0, tone(1320, 0.12, 0.35, 30)), (int(0.09 * RATE), tone(990, 0.2, 0.35, 18))))
write("waterfall.wav", mix(*[(int(k * 0.07 * RATE), tone(f, 0.35, 0.18, 9)) for k, f in enumerate([1568, 1319, 1175, 988, 784])]))
