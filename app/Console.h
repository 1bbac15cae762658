#pragma once

// Creates the console's sixteen windows in their fixed order, main window first,
// in the working directory's settings and tables. Errors (a file that cannot be
// used, a bad value) propagate; the windows made so far are then deleted again.
void CreateConsoleWindows();

// Deletes every window and clears the instance pointers; closes the port first.
void DeleteConsoleWindows();
