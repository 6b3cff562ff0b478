// The simulator's main module: its state, the Life step on the 57 x 24
// grid with hard edges, the frame loop and the drawing of the picture.
#pragma once

#include "runtime/array.h"
#include "runtime/kxstring.h"

constexpr Int kGridColumns = 57;  // first index, x
constexpr Int kGridRows = 24;     // second index, y

// Module state. The grids are two-dimensional Int arrays [57, 24]; element
// (x, y) lies at x * 24 + y.
extern Array* cellules;
extern Array* cellules_copie;
extern Long iComptBoucles;
extern Int iComptVoisins;
extern Int iCompteurX;
extern Int iCompteurY;
extern uint16_t iModeRendu;
extern uint8_t bVitesseSimulationMaximale;

// Creates both grids once (each guarded by its bit of the module's bit set).
void CreateGrids();
inline Int& Cell(Array* grid, Int x, Int y) { return grid->Elements<Int>()[x * kGridRows + y]; }

Int initSim();
// The generation step: reads cellules, writes the next generation into
// cellules_copie.
void StepGeneration();
// Copies cellules_copie back into cellules.
void CopyBack();

// Drawing (render.cpp).
Int demarrerRendu(uint16_t mode);
Int traceTableau();
Int refreshCells();
Int afficheBinaire();
Int afficherTexte(String* text, String* colourName, Int shadow, Int x, Int y);

// Start-up: the module initialisation routines of the imported modules, in
// the fixed order of the main module's import list.
void InitImportedModules();
// One frame of the main loop, after the Escape test.
void RunFrame();
