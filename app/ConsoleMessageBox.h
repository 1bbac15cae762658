#pragma once

// Installs the message-box routine that shows real Qt message boxes. Texts are
// plain text: a station name from the radio is never read as markup.
void InstallConsoleMessageBox();
