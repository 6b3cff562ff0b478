// The simulator's picture: grid lines and cell squares (mode 1) or a table
// of 0/1 digits (mode 2), and shadowed status text.
#include "app/life.h"
#include "render2d/font.h"
#include "render2d/render2d.h"

Int demarrerRendu(uint16_t mode) {
  if (mode == 1) {
    traceTableau();
    refreshCells();
  } else if (mode == 2) {
    afficheBinaire();
  }
  return 0;
}

Int traceTableau() {
  kxWriteStdout(KX_STR("      <TRACETABLEAU IN>      "));
  SetColor(20, 112, 10);
  for (Int y = 20; y <= 260; y += 10)
    DrawLine(10, static_cast<Float>(y), 580, static_cast<Float>(y), 1);
  for (Int x = 10; x <= 580; x += 10)
    DrawLine(static_cast<Float>(x), 20, static_cast<Float>(x), 260, 1);
  kxWriteStdout(KX_STR("      <TRACETABLEAU OUT>      "));
  return 0;
}

Int refreshCells() {
  kxWriteStdout(KX_STR("      <REFRESHCELLS IN>      "));
  for (Int px = 11; px <= 571; px += 10) {
    for (Int py = 21; py <= 251; py += 10) {
      if (Cell(cellules, px / 10 - 1, (py - 21) / 10) == 0)
        SetColor(0, 0, 0);
      else
        SetColor(9, 62, 253);
      DrawRect(static_cast<Float>(px), static_cast<Float>(py), 9, 9);
    }
  }
  kxWriteStdout(KX_STR("      <REFRESHCELLS OUT>      "));
  return 0;
}

Int afficheBinaire() {
  kxWriteStdout(KX_STR("      <AFFICHEBINAIRE IN>      "));
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y)
      afficherTexte(kxStringFromInt(Cell(cellules, x, y)), KX_STR("blanc"), 1, 10 + 10 * x,
                    20 + 10 * y);
  kxWriteStdout(KX_STR("      <AFFICHEBINAIRE OUT>      "));
  return 0;
}

// Text with a one-pixel shadow in the opposite colour, drawn first; the
// drawing colour is restored afterwards.
Int afficherTexte(String* text, String* colourName, Int shadow, Int x, Int y) {
  Int r = 0, g = 0, b = 0;
  GetColor(&r, &g, &b);
  const Int c = kxStringCompare(colourName, KX_STR("blanc")) == 0 ? 255 : 0;
  const Float fx = static_cast<Float>(x), fy = static_cast<Float>(y);
  if (shadow == 0) {
    SetColor(c, c, c);
    DrawText(text, fx, fy);
  } else if (c == 0) {
    SetColor(255, 255, 255);
    DrawText(text, static_cast<Float>(x + 1), static_cast<Float>(y + 1));
    SetColor(0, 0, 0);
    DrawText(text, fx, fy);
  } else {
    SetColor(0, 0, 0);
    DrawText(text, static_cast<Float>(x + 1), static_cast<Float>(y + 1));
    SetColor(255, 255, 255);
    DrawText(text, fx, fy);
  }
  SetColor(r, g, b);
  return 0;
}
