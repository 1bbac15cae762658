#pragma once

#include <QString>

// The command language, for --help and the help command.
QString CommandLanguageHelp();
// Examples of whole command lines of the program, for --help.
QString UsageExamples();
