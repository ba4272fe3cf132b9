#!/usr/bin/env python3
"""Writes the sample HEX files of this folder (standard library only).

Each file is 32-bit Intel HEX as the Microchip toolchains write it for 16-bit
parts: byte address = 2 x program address, four bytes per instruction (bits
7..0, 15..8, 23..16, then 00), type-04 records for the upper address bits.
Run it from anywhere: python3 examples/make_examples.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def record(rtype, address, data):
    body = [len(data), (address >> 8) & 0xFF, address & 0xFF, rtype] + list(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + "".join("%02X" % b for b in body) + "%02X" % checksum


def hex_text(chunks):
    """chunks: {byte address: bytes}; emits 16-byte records within 64 K windows."""
    lines, upper = [], None
    for start in sorted(chunks):
        data = chunks[start]
        for at in range(0, len(data), 16):
            address = start + at
            if address >> 16 != upper:
                upper = address >> 16
                lines.append(record(4, 0, [upper >> 8, upper & 0xFF]))
            lines.append(record(0, address & 0xFFFF, data[at:at + 16]))
    lines.append(":00000001FF")
    return "\r\n".join(lines) + "\r\n"


def instructions(words):
    out = bytearray()
    for w in words:
        out += bytes([w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, 0])
    return bytes(out)


def words_with_zero_upper(words):
    """EEPROM words and configuration registers: one instruction each."""
    return instructions([w & 0xFFFF for w in words])


def goto(target):
    return [0x040000 | (target & 0xFFFE), (target >> 16) & 0x7F]


def bra(at, target):
    return 0x370000 | (((target - (at + 2)) // 2) & 0xFFFF)


def blink_dspic30f4013():
    trisb, latb = 0x02C6, 0x02CA
    code = [
        0xEF0000 | trisb,   # 0x100  CLR TRISB
        0xA20000 | latb,    # 0x102  BTG LATB, #0
        0x093FFF,           # 0x104  REPEAT #0x3FFF
        0x000000,           # 0x106  NOP
        bra(0x108, 0x102),  # 0x108  BRA 0x102
    ]
    code += [0xFFFFFF] * (8 - len(code) % 8 if len(code) % 8 else 0)
    eeprom_bytes = 1024
    return {
        0x000000: instructions(goto(0x100) + [0xFFFFFF, 0xFFFFFF]),
        0x000200: instructions(code),  # program address 0x100
        # EEPROM word 0 at program address 0x800000 - 1024.
        2 * (0x800000 - eeprom_bytes): words_with_zero_upper([0x1234, 0x5678, 0x9ABC, 0xDEF0]),
        # FOSC, FWDT, FBORPOR, (unused), (unused), FGS, FICD, (unused).
        0x1F00000: words_with_zero_upper([0xC100, 0x003F, 0x87B3, 0xFFFF]),
        0x1F00010: words_with_zero_upper([0xFFFF, 0x310F, 0xC003, 0xFFFF]),
    }


def counter_pic24fj64ga002():
    trisb, latb = 0x02C8, 0x02CC
    code = [
        0xEF0000 | trisb,   # 0x200  CLR TRISB
        0xEC2000 | latb,    # 0x202  INC LATB
        0x093FFF,           # 0x204  REPEAT #0x3FFF
        0x000000,           # 0x206  NOP
        bra(0x208, 0x202),  # 0x208  BRA 0x202
        0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    ]
    program_words = 22016
    top = 2 * program_words - 4  # configuration word 2, then word 1
    return {
        0x000000: instructions(goto(0x200) + [0xFFFFFF, 0xFFFFFF]),
        0x000400: instructions(code),  # program address 0x200
        2 * top: instructions([0xF9DF, 0x3F7F]),
    }


def pattern_dspic33fj128gp802():
    # Walking ones through all 24 bits: a data pattern, not code to run.
    walk = [1 << (i % 24) for i in range(48)]
    return {
        0x000000: instructions(goto(0x200) + [0xFFFFFF, 0xFFFFFF]),
        0x000400: instructions(walk),
        0x1F00000: words_with_zero_upper([0xFFFF, 0xFFFF, 0xFFFF, 0xFF87]),
        0x1F00010: words_with_zero_upper([0xFFE7, 0xFF5F, 0xFFE7, 0xFFC3]),
    }


FILES = {
    "blink-dsPIC30F4013.hex": blink_dspic30f4013,
    "counter-PIC24FJ64GA002.hex": counter_pic24fj64ga002,
    "pattern-dsPIC33FJ128GP802.hex": pattern_dspic33fj128gp802,
}

if __name__ == "__main__":
    for name, build in FILES.items():
        with open(os.path.join(HERE, name), "w", newline="") as f:
            f.write(hex_text(build()))
        print("wrote", name)
