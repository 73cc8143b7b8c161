#pragma once

// What many commands require before they start; each refuses the line.

// "missing/incorrect tree" without a game tree.
void RequireTree();

// "Can't do that when solver is running" while a solver runs.
void RefuseWhileSolverRuns();
