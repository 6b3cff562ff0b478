// The built-in 8 x 16 bitmap font of the 96 codes 32..127.
//
// Layout: byte (r * 96 + j) is pixel row r (0..15) of glyph j, the glyph of
// code 32 + j; bit k (least significant first) is pixel column k, so the
// lowest bit is the leftmost pixel. A set bit is ink. Column 0 and rows 0,
// 13, 14 and 15 carry no ink, which spaces characters and lines apart.
// Capitals and digits stand in rows 2..10, descenders reach row 12.
#pragma once

extern const unsigned char kBuiltinFont8x16[1536];

class TPixmap;
// A 16-row RGBA sheet `width` pixels wide of the 96 glyphs in `bits` (the
// layout above), glyph j at column 8 j: opaque white ink on transparent
// black; columns past the last glyph stay transparent.
TPixmap* Font8x16Sheet(const unsigned char* bits, int width);
